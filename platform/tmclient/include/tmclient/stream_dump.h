#pragma once

#include <string>
#include <string_view>

#include "tmclient/export.h"

namespace tmclient {

// Turns coded stream bytes into a readable listing, one line per item,
// indented by nesting:
//
//   stream "busiordmgnt.X.ParamIn"
//     struct "MCustQryAccept.SFetchInfoIn"
//       uint64 16
//       string "13900000000"
//     end struct
//   end stream
//
// Values print as `int32 N`, `int16 N`, `int64 N`, `uint64 N`, `string "..."`,
// `datetime YYYY-MM-DD HH:MM:SS` (or `datetime null`) and
// `errormsg CODE "MSG" CODE2 "MSG2"`; lists as `list "NAME" count N` and
// `end list`. In texts, printable ASCII stays as it is ('"' and '\' escaped);
// any other byte prints as \xNN. Items need not be balanced. Bytes that do
// not decode end the listing with a line `error at offset N: WHAT`.
TMCLIENT_API std::string DumpStream(std::string_view bytes);

}  // namespace tmclient
