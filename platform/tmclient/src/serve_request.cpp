#include "serve_request.h"

#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_error.h"

namespace tmclient {
StreamingServiceHandler StreamingOf(ServiceHandler handler) {
  return [h = std::move(handler)](const CallContext&, const std::string& interfaceName,
                                  const std::string& serviceCode, std::string_view request,
                                  std::string& reply, ReplyWriter&) {
    return h(interfaceName, serviceCode, request, reply);
  };
}

int ServeRequest(const StreamingServiceHandler& handler, const envelope::Request& request,
                 std::string& reply, ReplyWriter& writer) {
  const CallContext call{request.session, request.peer};
  int result;
  try {
    // The names as the handler takes them.
    const std::string interfaceName(request.interfaceName);
    const std::string serviceCode(request.serviceCode);
    result = handler(call, interfaceName, serviceCode, request.stream, reply, writer);
  } catch (...) {
    result = kErrServiceFailed;
  }
  if (!IsLibraryError(result) && reply.size() > tmb_stream::kMaxFrameSize)
    result = kErrReplyTooLarge;
  if (IsLibraryError(result)) reply.clear();
  return result;
}

int ServeWholeReply(const StreamingServiceHandler& handler, const envelope::Request& request,
                    std::string& reply) {
  BufferedReplyWriter writer(tmb_stream::kMaxFrameSize);
  int result = ServeRequest(handler, request, reply, writer);
  if (!IsLibraryError(result) && writer.finished()) writer.Take(reply);
  return result;
}

}  // namespace tmclient
