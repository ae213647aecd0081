#include "tmclient/tmb_stream.h"

#include <utility>

namespace {

constexpr const char* kWriteWhileReading = "write on a stream being read";
constexpr const char* kReadWhileWriting = "read on a stream being written";

}  // namespace

tmb_stream::tmb_stream() = default;
tmb_stream::~tmb_stream() = default;

bool tmb_stream::open() {
  tmb_reader::close(kReadWhileWriting);
  bReading = false;
  return tmb_writer::open();
}

void tmb_stream::load(std::string_view bytes, std::shared_ptr<const void> owner) {
  tmb_writer::close(kWriteWhileReading);
  bReading = true;
  read(bytes, std::move(owner));
}

void tmb_stream::load(std::string_view bytes) {
  // A frame over the limit fails whole: not worth a copy.
  if (bytes.size() > kMaxFrameSize) return load(bytes, nullptr);
  load(std::make_shared<const std::string>(bytes));
}

void tmb_stream::load(std::string&& bytes) {
  load(std::make_shared<const std::string>(std::move(bytes)));
}

void tmb_stream::load(std::shared_ptr<const std::string> frame) {
  const std::string_view bytes = frame ? std::string_view(*frame) : std::string_view();
  load(bytes, std::move(frame));
}

bool tmb_stream::begin_stream(const char* name) {
  return bReading ? tmb_reader::begin_stream(name) : tmb_writer::begin_stream(name);
}

bool tmb_stream::end_stream() {
  return bReading ? tmb_reader::end_stream() : tmb_writer::end_stream();
}

void tmb_stream::Failed() {
  tmb_writer::halt();
  tmb_reader::halt();
}
