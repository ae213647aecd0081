#include "streamed_reply.h"

#include "envelope.h"
#include "tcp_connection.h"
#include "tmclient/tmb_stream.h"
#include "worker_threads.h"

namespace tmclient {

bool StreamedReply::Begin(std::size_t headSize) {
  if (iState != State::kIdle || headSize > kMaxHeadSize) return Failed(State::kRefused);
  std::string frame;
  envelope::PutU32(frame, envelope::kStreamStartSize);
  envelope::EncodeStreamStart(iCallId, static_cast<uint32_t>(headSize), frame);
  iHeadSize = headSize;
  iTotal = headSize;
  iState = State::kStreaming;
  return Send(frame, {});
}

bool StreamedReply::Append(std::string_view bytes) {
  if (iState != State::kStreaming) return false;
  if (bytes.size() > tmb_stream::kMaxFrameSize - iTotal) return Failed(State::kRefused);
  if (bytes.empty()) return true;
  iTotal += bytes.size();
  std::string header;  // short enough to need no allocation
  envelope::PutU32(header, static_cast<uint32_t>(envelope::kStreamPartHeaderSize + bytes.size()));
  envelope::EncodeStreamPartHeader(iCallId, header);
  return Send(header, bytes);
}

bool StreamedReply::Finish(std::string_view head) {
  if (iState != State::kStreaming || head.size() != iHeadSize) return Failed(State::kRefused);
  strHead.assign(head);
  iState = State::kFinished;
  return true;
}

bool StreamedReply::Failed(State s) {
  if (iState != State::kBroken) iState = s;
  return false;
}

bool StreamedReply::Send(std::string_view header, std::string_view data) {
  std::unique_lock lock(cConn.mLock);
  if (cConn.iFd < 0 || !cConn.Send(header, data)) return Failed(State::kBroken);
  if (cConn.cOut.size() <= iMaxQueued) return true;
  // The client is behind: wait until it has taken half of what waits, or
  // the connection closes (the write timeout, its reset, the server's stop).
  cThreads.Pause();
  cConn.cvRoom.wait(lock, [&] { return cConn.iFd < 0 || cConn.cOut.size() <= iMaxQueued / 2; });
  cThreads.Resume();
  return cConn.iFd >= 0 || Failed(State::kBroken);
}

}  // namespace tmclient
