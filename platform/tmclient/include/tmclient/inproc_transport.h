#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "tmclient/export.h"

namespace tmclient {

// A service answering in the same process: gets the request frame, fills the
// reply frame and returns the server's result (0 on success). A library
// failure code (-9999 .. -9971) is passed back as a library failure and the
// reply is dropped. An exception becomes kErrServiceFailed. While a wait hook
// takes the caller's calls (call_wait.h), it runs on a thread of the library.
using InProcessHandler =
    std::function<int(const std::string& interfaceName, const std::string& serviceCode,
                      std::string_view request, std::string& reply)>;

// Makes `handler` reachable as "inproc://<name>" (replacing an earlier one of
// that name); an empty handler removes the name. Thread-safe; a call that is
// running keeps the handler it started with.
TMCLIENT_API void RegisterInProcessService(const std::string& name, InProcessHandler handler);

}  // namespace tmclient
