#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "tmclient/export.h"
#include "tmclient/tmb_reader.h"
#include "tmclient/tmb_writer.h"
#include "tmclient/wire_tags.h"

// One request or one reply of a remote call: a writer while it is being
// written (after open()), a reader once it holds a received frame (after
// load() or attach()). The coding and its rules are the writer's and the
// reader's (tmb_writer.h, tmb_reader.h); code that only writes or only reads
// takes those.
//
// Only one side is open at a time, and the stream fails as one: writing while
// reading or reading while writing fails it, and so does any failure of
// either side. After the first failure every operation does nothing.
class TMCLIENT_API tmb_stream final : public tmb_writer, public tmb_reader {
 public:
  tmb_stream();
  ~tmb_stream() override;

  // Makes the stream an empty, open stream for writing. Always true.
  bool open();
  // Read mode over the frame `bytes`, which `owner` keeps alive (see
  // tmb_reader::read). Every load below comes here; they differ only in who
  // keeps the bytes. A frame longer than kMaxFrameSize leaves it failed.
  void load(std::string_view bytes, std::shared_ptr<const void> owner);
  // Over a copy of `bytes`.
  void load(std::string_view bytes);
  // Over `bytes`, which the stream then keeps.
  void load(std::string&& bytes);
  // Over the caller's bytes in place, without copying them: the caller keeps
  // them alive and unchanged until the stream is loaded, opened or destroyed.
  void attach(std::string_view bytes) { load(bytes, nullptr); }
  // Over a frame shared with whoever received it, without a copy. The stream
  // holds its reference until it is loaded, opened or destroyed. A null frame
  // reads as an empty one.
  void load(std::shared_ptr<const std::string> frame);

  // True when the stream is not open or has recorded an error.
  bool failed() const { return tmb_writer::failed() && tmb_reader::failed(); }
  // What the first failure was about ("" while none).
  const std::string& failed_at() const {
    return tmb_writer::failed_at().empty() ? tmb_reader::failed_at() : tmb_writer::failed_at();
  }

  // Writing: the stream header with its name. Reading: checks it.
  bool begin_stream(const char* name);
  // Writing: the end marker. Reading: checks the end marker and that no byte
  // follows it.
  bool end_stream();

  // The bytes written so far (write mode) or loaded (read mode), in place.
  // Valid until the next operation on the stream.
  std::string_view bytes() const {
    const std::string_view w = written();
    return w.empty() ? frame() : w;
  }

  // The largest frame a stream writes or accepts, in bytes.
  static constexpr std::size_t kMaxFrameSize = tmclient::wire::kMaxFrameSize;

 private:
  // Either side's failure stops the other.
  void Failed() override;

  bool bReading = false;  // which side begin_stream() and end_stream() go to
};
