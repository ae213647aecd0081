#include "reply_parts.h"

#include <algorithm>

#include "tmclient/tmd_error.h"

namespace tmclient {
namespace {

// The announced total is believed up to this much; beyond, memory grows as
// parts arrive, never more than twice what has arrived.
constexpr uint64_t kEagerReplySize = uint64_t(1) << 20;

}  // namespace

ReplyParts::ReplyParts(uint32_t callId, std::size_t maxReplySize, std::string& reply)
    : iCallId(callId), iMaxReplySize(maxReplySize), strReply(reply) {
  strReply.clear();
}

bool ReplyParts::Take(std::string_view body, int& result) {
  envelope::ReplyHeader hdr;
  if (!envelope::DecodeReplyHeader(body, hdr)) return Done(kErrBadReplyFrame, result);
  // An error message about no call in particular answers a request the
  // responder could not read.
  const bool anyCall = hdr.kind == envelope::kError && hdr.callId == 0;
  if (hdr.callId != iCallId && !anyCall) return Done(kErrBadReplyFrame, result);
  const std::string_view data = body.substr(hdr.headerSize);
  switch (hdr.kind) {
    case envelope::kError:
      return Done(IsLibraryError(hdr.result) ? hdr.result : kErrServiceFailed, result);
    case envelope::kReply:
      if (iNextPart != 0 || IsLibraryError(hdr.result)) return Done(kErrBadReplyFrame, result);
      if (data.size() > iMaxReplySize) return Done(kErrReplyTooLarge, result);
      strReply.assign(data);
      return Done(hdr.result, result);
    case envelope::kReplyPart:
      break;
    default:
      return Done(kErrBadReplyFrame, result);
  }
  // Parts come in order: NATS keeps the order of one publisher's messages.
  const envelope::PartHeader& p = hdr.part;
  if (iNextPart == 0) {
    if (p.total > iMaxReplySize) return Done(kErrReplyTooLarge, result);
    if (p.index != 0 || p.count == 0 || p.count > kMaxReplyParts || IsLibraryError(p.result))
      return Done(kErrBadReplyFrame, result);
    cFirst = p;
    strReply.reserve(static_cast<std::size_t>(
        std::min<uint64_t>({p.total, uint64_t(data.size()) * p.count, kEagerReplySize})));
  } else if (p.index != iNextPart || p.count != cFirst.count || p.total != cFirst.total ||
             p.result != cFirst.result) {
    return Done(kErrBadReplyFrame, result);
  }
  if (data.size() > cFirst.total - strReply.size()) return Done(kErrBadReplyFrame, result);
  strReply.append(data);
  if (++iNextPart < cFirst.count) return false;
  return Done(strReply.size() == cFirst.total ? cFirst.result : kErrBadReplyFrame, result);
}

}  // namespace tmclient
