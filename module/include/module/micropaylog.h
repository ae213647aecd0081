#pragma once

#include "module/entry_points.h"

// The entry points of libmicropaylog.so (their types and names in
// entry_points.h). The module keeps no state between calls.

#define MICROPAYLOG_API extern "C" __attribute__((visibility("default")))

// The one business the module offers: the micro-payment log query.
inline constexpr int kMicroPayLogBusinessId = 10001;

// Writes the module's version text, without leading and trailing blanks, into
// `buffer` (at least kVersionTextSize bytes). The first argument is not
// examined. 0, or -1 for a null buffer (nothing written).
MICROPAYLOG_API int QueryCvsIntf(int reserved, char* buffer);

// index < 0: the number of business ids (1); index 0: 10001; else -1.
MICROPAYLOG_API int GetModuleId(int index);

// Opens a new query window for the operator `op` and returns it as a TForm*
// value (0 for a null `op`, or when no window could be made: the operator
// was told). The record is copied; nothing of it is kept after the call. The
// window frees itself when it is closed: never free it through the module.
// An exception from the window's start-up goes on to the caller (the window
// is then gone). The first argument is not examined.
MICROPAYLOG_API intptr_t CreateBusinessForm(intptr_t reserved, const MSysmgntDef::SOperator* op);
