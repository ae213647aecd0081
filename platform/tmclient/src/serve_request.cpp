#include "serve_request.h"

#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_error.h"

namespace tmclient {
namespace {

thread_local CallContext tCurrentCall;

}  // namespace

const CallContext& CurrentCall() {
  return tCurrentCall;
}

CallContextScope::CallContextScope(CallContext context) : cSaved(tCurrentCall) {
  tCurrentCall = context;
}

CallContextScope::~CallContextScope() {
  tCurrentCall = cSaved;
}

StreamingServiceHandler StreamingOf(ServiceHandler handler) {
  return [h = std::move(handler)](const std::string& interfaceName, const std::string& serviceCode,
                                  std::string_view request, std::string& reply, ReplyWriter&) {
    return h(interfaceName, serviceCode, request, reply);
  };
}

int ServeRequest(const StreamingServiceHandler& handler, const envelope::Request& request,
                 std::string& reply, ReplyWriter& writer) {
  // The names as the handler takes them, in strings that keep their memory.
  thread_local std::string interfaceName, serviceCode;
  int result;
  CallContextScope context({request.session, request.peer});
  try {
    interfaceName.assign(request.interfaceName);
    serviceCode.assign(request.serviceCode);
    result = handler(interfaceName, serviceCode, request.stream, reply, writer);
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
