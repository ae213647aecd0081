#pragma once

// The operator-facing texts of the service, GBK-coded.
namespace backoffice::messages {

extern const char kNoCondition[];
extern const char kTooManyRows[];  // printf format with one %lld: the row limit
extern const char kBadPhone[];
// An export record without its list, its format or its rows.
extern const char kBadExport[];
extern const char kBadRange[];
extern const char kBadRequest[];
extern const char kDatabase[];
extern const char kInternal[];
extern const char kNoSession[];
extern const char kNoRight[];
extern const char kSignInFailed[];
extern const char kOperatorLocked[];
extern const char kOperatorInactive[];
extern const char kDirectoryUnavailable[];
extern const char kAuditUnavailable[];

}  // namespace backoffice::messages
