// fuzz_network_corpus DIR: writes the seed corpus of the network fuzz target
// (see network_inputs.h) into DIR: well-formed tcp reply frames, NATS reply
// messages and request bodies of both operations.
#include <cstdio>
#include <fstream>
#include <string>

#include "backoffice/protocol.h"
#include "envelope.h"
#include "frames.h"
#include "network_inputs.h"
#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "sample_records.h"
#include "tmclient/qrs_errormsg.h"

namespace {

using namespace MMicroPaymentDef;
using namespace MCustQryAccept;
using namespace tmclient;
using fuzznet::kCallId;

bool Save(const std::string& dir, const std::string& name, const std::string& bytes) {
  std::ofstream f(dir + "/" + name, std::ios::binary);
  f << bytes;
  return static_cast<bool>(f);
}

// A tcp frame: the body's length, then the body.
std::string Framed(const std::string& body) {
  std::string out;
  envelope::PutU32(out, static_cast<uint32_t>(body.size()));
  return out + body;
}

std::string Reply(int32_t result, const std::string& stream) {
  std::string body;
  envelope::EncodeReplyHeader(kCallId, result, body);
  return body + stream;
}

std::string Error(int32_t code) {
  std::string body;
  envelope::EncodeError(kCallId, code, body);
  return body;
}

// A request as a signed-in client sends it: its session is a token's 64
// hex digits.
std::string Request(const char* interfaceName, const char* serviceCode, const std::string& stream) {
  static const std::string kSession =
      "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";
  std::string body(1, fuzznet::kRequest);
  envelope::EncodeRequestHeader(kCallId, interfaceName, serviceCode, kSession, body);
  return body + stream;
}

// The same from a client older than sessions: kind 'Q', no session's
// length (the back office refuses it as a call without a session).
std::string OldClientRequest(const char* interfaceName, const char* serviceCode,
                             const std::string& stream) {
  std::string body(1, fuzznet::kRequest);
  body.push_back(static_cast<char>(envelope::kRequest));
  envelope::PutU32(body, kCallId);
  for (const std::string_view name :
       {std::string_view(interfaceName), std::string_view(serviceCode)}) {
    body.push_back(static_cast<char>(name.size()));
    body.append(name);
  }
  return body + stream;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_network_corpus DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::string tcp(1, fuzznet::kTcpReply);

  QRSErrorMsg ok;
  const std::string logReply =
      samples::Frame(backoffice::kLogReplyStream,
                     SMpInfoList{samples::LogRow(1), samples::LogRow(2)}, samples::Totals(), 0, ok);
  const std::string userReply =
      samples::Frame(backoffice::kUserReplyStream, SMpUserInfoList{samples::UserRow(1)}, ok);

  // A streamed reply: start, the bytes after the head in two parts, finish with the head.
  const std::size_t head = 40;
  std::string start, part1, part2, finish;
  envelope::EncodeStreamStart(kCallId, head, start);
  envelope::EncodeStreamPartHeader(kCallId, part1);
  part1 += logReply.substr(head, 30);
  envelope::EncodeStreamPartHeader(kCallId, part2);
  part2 += logReply.substr(head + 30);
  envelope::EncodeStreamFinishHeader(kCallId, 0, finish);
  finish += logReply.substr(0, head);

  // The same reply in three NATS parts.
  std::string parts[3];
  for (uint32_t i = 0; i < 3; ++i) {
    envelope::PartHeader p{kCallId, 0, i, 3, logReply.size()};
    envelope::EncodePartHeader(p, parts[i]);
    const std::size_t third = logReply.size() / 3;
    parts[i] += logReply.substr(i * third, i == 2 ? std::string::npos : third);
  }

  // Over January 2024 (the fuzz target's demo data ends on 1 February).
  SQuerySoInfoListIn january;
  january.set_BEGIN_SO_DATE(QRSDateTime(2024, 1, 1, 0, 0, 0));
  january.set_END_SO_DATE(QRSDateTime(2024, 1, 31, 23, 59, 59));

  bool saved = true;
  saved &= Save(dir, "tcp-reply", tcp + Framed(Reply(0, logReply)));
  saved &= Save(dir, "tcp-streamed-reply",
                tcp + Framed(start) + Framed(part1) + Framed(part2) + Framed(finish));
  saved &= Save(dir, "tcp-error", tcp + Framed(Error(-9978)));
  saved &= Save(dir, "nats-reply", fuzznet::NatsMessages({Reply(1001, userReply)}));
  saved &= Save(dir, "nats-parts", fuzznet::NatsMessages({parts[0], parts[1], parts[2]}));
  saved &= Save(dir, "nats-error", fuzznet::NatsMessages({Error(-9983)}));
  saved &= Save(dir, "request-log",
                Request(backoffice::kLogInterface, backoffice::kLogServiceCode,
                        samples::Frame(backoffice::kLogRequestStream, samples::LogQuery(),
                                       samples::ServiceOrder())));
  saved &= Save(
      dir, "request-log-january",
      Request(backoffice::kLogInterface, backoffice::kLogServiceCode,
              samples::Frame(backoffice::kLogRequestStream, january, samples::ServiceOrder())));
  saved &= Save(dir, "request-log-no-condition",
                Request(backoffice::kLogInterface, backoffice::kLogServiceCode,
                        samples::Frame(backoffice::kLogRequestStream, SQuerySoInfoListIn(),
                                       SQueryLogSoInfo())));
  saved &= Save(dir, "request-user",
                Request(backoffice::kUserInterface, backoffice::kUserServiceCode,
                        samples::Frame(backoffice::kUserRequestStream, samples::UserQuery(),
                                       samples::ServiceOrder())));
  saved &= Save(dir, "request-unknown-service", Request("I", "C", "x"));
  saved &= Save(dir, "request-user-old-client",
                OldClientRequest(backoffice::kUserInterface, backoffice::kUserServiceCode,
                                 samples::Frame(backoffice::kUserRequestStream,
                                                samples::UserQuery(), samples::ServiceOrder())));
  return saved ? 0 : 1;
}
