#include "tmclient/session.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "session_internal.h"

namespace tmclient {
namespace {

struct ProcessSession {
  std::mutex lock;
  std::string token;
  std::atomic<uint64_t> version{1};  // changes with the token, under the lock
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
  p.version.fetch_add(1, std::memory_order_release);
  return true;
}

std::string CurrentSession() {
  ProcessSession& p = Process();
  std::lock_guard lock(p.lock);
  return p.token;
}

void CurrentSessionInto(std::string& out, uint64_t& version) {
  ProcessSession& p = Process();
  if (version == p.version.load(std::memory_order_acquire)) return;
  std::lock_guard lock(p.lock);
  out.assign(p.token);
  version = p.version.load(std::memory_order_relaxed);
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
