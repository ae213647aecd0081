#pragma once

#include "tmclient/export.h"

// Library failure codes: -9999 .. -9971. A call_server result in that range
// means the library failed and there is no reply. On the wire and in
// operators' notes: never change a value.
//
// The proxies' own codes (-9996, -9995, -9990, -9989, -9988, -9987, -9985,
// -9979) are never used by the library.
namespace tmclient {
// (the code table is the implementation's: one named constant per failure)
}  // namespace tmclient

// The text for a library failure code; a generic text for any other value.
extern "C" TMCLIENT_API const char* tmd_getErrorMsg(int code);
