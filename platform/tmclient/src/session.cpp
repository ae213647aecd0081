#include "tmclient/session.h"

#include <memory>
#include <mutex>

#include "session_internal.h"

namespace tmclient {
namespace {

struct ProcessSession {
  std::mutex lock;
  std::string token;
  std::function<void()> onRefused;
};

ProcessSession& Process() {
  static ProcessSession session;
  return session;
}

}  // namespace

bool SetSession(std::string_view token) {
  if (token.size() > kMaxSessionSize) return false;
  ProcessSession& p = Process();
  std::lock_guard lock(p.lock);
  p.token.assign(token);
  return true;
}

std::string CurrentSession() {
  ProcessSession& p = Process();
  std::lock_guard lock(p.lock);
  return p.token;
}

void CurrentSessionInto(std::string& out) {
  ProcessSession& p = Process();
  std::lock_guard lock(p.lock);
  out.assign(p.token);
}

void SetSessionRefusedHandler(std::function<void()> handler) {
  ProcessSession& p = Process();
  std::lock_guard lock(p.lock);
  p.onRefused = std::move(handler);
}

void NoteCallResult(int result) {
  if (result != kRcSessionRefused) return;
  std::function<void()> handler;
  {
    ProcessSession& p = Process();
    std::lock_guard lock(p.lock);
    handler = p.onRefused;
  }
  if (handler) handler();
}

}  // namespace tmclient
