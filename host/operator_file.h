#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "records/msysmgntdef.h"

// The operator record the host hands to CreateBusinessForm.
//
// An operator file holds one `FIELD = value` line per field of SOperator
// (OP_ID, OP_NAME, ..., MEMO); blank lines and lines starting with '#' are
// skipped. Numbers are decimal and must fit the field; texts are UTF-8 and
// become GBK; date-times are "yyyymmddhhmmss", "yyyy-mm-dd" or
// "yyyy-mm-dd hh:mm:ss", empty for none. Fields not given stay empty or zero.
//
// Error texts name the file, the line and the field, never a value: the file
// holds the operator's password. So the file must be a regular file that only
// its owner may read or write (as an SSH key must), of at most
// kMaxOperatorFileBytes, with lines of at most kMaxOperatorLineBytes.
inline constexpr size_t kMaxOperatorFileBytes = 64 * 1024;
inline constexpr size_t kMaxOperatorLineBytes = 4096;

// Reads `text` (the file's content) into `record`. On failure returns false
// and sets `error` ("line N: ..."); `record` is then unchanged.
bool ParseOperatorText(std::string_view text, MSysmgntDef::SOperator& record, std::string& error);

// Reads the file at `path`; errors start with the path.
bool ReadOperatorFile(const std::string& path, MSysmgntDef::SOperator& record, std::string& error);

// The operator used when no file is given.
MSysmgntDef::SOperator DemoOperator();
