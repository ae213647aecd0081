#pragma once

// What every transport must do alike, written once: the handlers the servers
// run and the checks made through a client of either transport.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tmclient/service_handler.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_error.h"
#include "tmclient/transport.h"

namespace transport_test {

// Answers with the interface name, the service code and the request, and
// returns the request's length as the server's result.
inline int Echo(const std::string& iface, const std::string& code, std::string_view request,
                std::string& reply) {
  reply = iface + "|" + code + "|" + std::string(request);
  return static_cast<int>(request.size());
}

// Fills the reply, then by service code: "LIB" returns a library code, "THROW"
// throws, anything else returns a server code of its own.
inline int ScriptedResults(const std::string&, const std::string& code, std::string_view,
                           std::string& reply) {
  reply = "partial";
  if (code == "LIB") return tmclient::kErrTimeout;
  if (code == "THROW") throw std::runtime_error("boom");
  return -10000;  // outside the library's range
}

inline void ExpectServerResultsReachTheCaller(tmclient::Transport& t) {
  std::string reply;
  EXPECT_EQ(t.Call("I", "LIB", "x", reply), tmclient::kErrTimeout);
  EXPECT_EQ(t.Call("I", "THROW", "x", reply), tmclient::kErrServiceFailed);
  EXPECT_EQ(t.Call("I", "OTHER", "x", reply), -10000);
  EXPECT_EQ(reply, "partial");
}

// "rows:N" is answered with a stream holding a list of N numbers, "bytes:N"
// with N bytes.
inline int SizedReplies(const std::string&, const std::string&, std::string_view request,
                        std::string& reply) {
  const std::string text(request);
  const int n = std::stoi(text.substr(text.find(':') + 1));
  if (text.starts_with("bytes:")) {
    reply.assign(static_cast<std::size_t>(n), 'b');
    return 0;
  }
  tmb_stream s;
  s.open();
  s.begin_stream("S");
  s.begin_write_list("rows", n);
  for (int i = 0; i < n; ++i) s << i;
  s.end_write_list();
  s.end_stream();
  reply = s.bytes();
  return 0;
}

// Through a client whose broker URL says max_reply_mb=1&max_rows=3, against
// SizedReplies: what is within both limits arrives, one row or one byte more
// fails the call with its code and leaves no reply.
inline void ExpectTheClientsOwnLimitsHold(tmclient::Transport& t) {
  std::string reply;
  EXPECT_EQ(t.Call("I", "C", "rows:3", reply), 0);
  EXPECT_EQ(t.Call("I", "C", "rows:4", reply), tmclient::kErrReplyTooLarge);
  EXPECT_EQ(reply, "");
  EXPECT_EQ(t.Call("I", "C", "bytes:1048576", reply), 0);
  EXPECT_EQ(reply.size(), 1u << 20);
  EXPECT_EQ(t.Call("I", "C", "bytes:1048577", reply), tmclient::kErrReplyTooLarge);
  EXPECT_EQ(reply, "");
}

// Eight threads with a transport each make 100 Echo calls apiece.
inline void ExpectConcurrentCallersGetTheirOwnReplies(
    const std::function<std::unique_ptr<tmclient::Transport>()>& open) {
  constexpr int kThreads = 8, kCalls = 100;
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      auto t = open();
      std::string reply;
      for (int k = 0; k < kCalls && t; ++k) {
        std::string request = std::to_string(i) + ":" + std::to_string(k);
        if (t->Call("I", "C", request, reply) == static_cast<int>(request.size()) &&
            reply == "I|C|" + request)
          ++good;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(good, kThreads * kCalls);
}

// A streaming handler scripted by service code. Every script begins a streamed
// reply with a 4-byte head and streams `request` as its first part, then:
// "WHOLE" streams 3 MB more and finishes; "REPLACE" answers 1002 with a whole
// reply instead; "LIB" returns a library code; "THROW" throws; "UNFINISHED"
// returns 0 without finishing (nor a whole reply).
inline std::string BigPart() {
  std::string part(3u << 20, '\0');
  for (std::size_t i = 0; i < part.size(); ++i) part[i] = static_cast<char>(i * 7 + i / 4096);
  return part;
}

inline int ScriptedStreaming(const tmclient::CallContext&, const std::string&,
                             const std::string& code, std::string_view request, std::string& reply,
                             tmclient::ReplyWriter& writer) {
  if (!writer.Begin(4) || !writer.Append(request)) return 1;
  if (code == "WHOLE") {
    const std::string big = BigPart();
    for (std::size_t at = 0; at < big.size(); at += 100000)
      if (!writer.Append(std::string_view(big).substr(at, 100000))) return 1;
    return writer.Finish("HEAD") ? 0 : 1;
  }
  if (code == "REPLACE") {
    reply = "refused";
    return 1002;
  }
  if (code == "LIB") return tmclient::kErrTimeout;
  if (code == "THROW") throw std::runtime_error("boom");
  return 0;
}

// A reply carries everything streamed or nothing of it, and the connection
// serves the next call whatever happened to the previous one.
inline void ExpectStreamedRepliesWholeOrNothing(tmclient::Transport& t) {
  std::string reply;
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(t.Call("I", "WHOLE", "first", reply), 0);
    EXPECT_TRUE(reply == "HEADfirst" + BigPart()) << reply.size();
    EXPECT_EQ(t.Call("I", "REPLACE", "first", reply), 1002);
    EXPECT_EQ(reply, "refused");
    EXPECT_EQ(t.Call("I", "LIB", "first", reply), tmclient::kErrTimeout);
    EXPECT_EQ(t.Call("I", "THROW", "first", reply), tmclient::kErrServiceFailed);
    EXPECT_EQ(t.Call("I", "UNFINISHED", "first", reply), 0);
    EXPECT_EQ(reply, "");
  }
}

}  // namespace transport_test
