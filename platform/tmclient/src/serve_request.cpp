#include "serve_request.h"

#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_error.h"

namespace tmclient {

int ServeRequest(const ServiceHandler& handler, const envelope::Request& request,
                 std::string& reply) {
  int result;
  try {
    result = handler(std::string(request.interfaceName), std::string(request.serviceCode),
                     request.stream, reply);
  } catch (...) {
    result = kErrServiceFailed;
  }
  if (!IsLibraryError(result) && reply.size() > tmb_stream::kMaxFrameSize)
    result = kErrReplyTooLarge;
  if (IsLibraryError(result)) reply.clear();
  return result;
}

}  // namespace tmclient
