#include <cstring>

#include "tmclient/service_handler.h"

namespace tmclient {

ReplyWriter::~ReplyWriter() = default;

BufferedReplyWriter::BufferedReplyWriter(std::size_t maxSize) : iMaxSize(maxSize) {}
BufferedReplyWriter::~BufferedReplyWriter() = default;

bool BufferedReplyWriter::Begin(std::size_t headSize) {
  if (iState != State::kIdle || headSize > kMaxHeadSize || headSize > iMaxSize) {
    iState = State::kFailed;
    return false;
  }
  iHeadSize = headSize;
  strReply.assign(headSize, '\0');
  iState = State::kStreaming;
  return true;
}

bool BufferedReplyWriter::Append(std::string_view bytes) {
  if (iState != State::kStreaming) return false;
  if (bytes.size() > iMaxSize - strReply.size()) {
    iState = State::kFailed;
    strReply.clear();
    return false;
  }
  strReply.append(bytes);
  return true;
}

bool BufferedReplyWriter::Finish(std::string_view head) {
  if (iState != State::kStreaming || head.size() != iHeadSize) {
    iState = State::kFailed;
    strReply.clear();
    return false;
  }
  if (!head.empty()) std::memcpy(strReply.data(), head.data(), head.size());
  iState = State::kFinished;
  return true;
}

bool BufferedReplyWriter::Take(std::string& out) {
  if (iState != State::kFinished) return false;
  out = std::move(strReply);
  strReply.clear();
  iState = State::kIdle;
  return true;
}

}  // namespace tmclient
