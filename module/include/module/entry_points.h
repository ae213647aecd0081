#pragma once

#include <cstdint>

#include "records/msysmgntdef.h"

// The entry points every business module exports under plain C names, as a
// host reaches them with dlsym. A host learns the business ids with
// GetModuleId (a negative index gives their count, 0 .. count-1 each id),
// then calls CreateBusinessForm when the operator opens the business. The
// window reference travels pointer-sized; the host treats it as opaque.
using TQueryCvsIntf = int (*)(int iReserved, char* pBuffer);
using TGetModuleId = int (*)(int iIndex);
using TCreateBusinessForm = intptr_t (*)(intptr_t iReserved,
                                         const MSysmgntDef::SOperator* pOperator);

// The exported names of the three, in this order.
inline constexpr const char* kQueryCvsIntfName = "QueryCvsIntf";
inline constexpr const char* kGetModuleIdName = "GetModuleId";
inline constexpr const char* kCreateBusinessFormName = "CreateBusinessForm";

// The size of the buffer a host gives QueryCvsIntf.
inline constexpr int kVersionTextSize = 2048;
