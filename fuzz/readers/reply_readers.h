#pragma once

#include <string>
#include <string_view>

// The readers of the remote operations' requests and replies, each run over
// the same bytes the way its caller runs it. Shared by the fuzz target and
// the corpus generator.
namespace fuzzreaders {

// Each returns true when the bytes decoded whole; `reencoded` then receives
// what the writers make of the decoded values.
bool ReadLogReply(std::string_view bytes, std::string& reencoded);
bool ReadUserReply(std::string_view bytes, std::string& reencoded);
bool ReadLogRequest(std::string_view bytes, std::string& reencoded);
bool ReadUserRequest(std::string_view bytes, std::string& reencoded);
// The sign-in's request and reply.
bool ReadSignInRequest(std::string_view bytes, std::string& reencoded);
bool ReadSignInReply(std::string_view bytes, std::string& reencoded);

// The sign-in's stream names.
inline constexpr char kSignInRequest[] = "sysmgnt.MSysmgnt.IOperatorAuth.signIn.ParamIn";
inline constexpr char kSignInReply[] = "sysmgnt.MSysmgnt.IOperatorAuth.signIn.ParamOut";

}  // namespace fuzzreaders
