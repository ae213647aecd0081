#include "allocation_failure.h"

#include <atomic>
#include <cstdlib>
#include <new>

// The replacement below pairs malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<long> gFailAt{0};
std::atomic<long> gAllocations{0};
std::atomic<bool> gFailed{false};
}  // namespace

namespace allocation_failure {

void FailAt(long k) {
  gFailAt = 0;
  if (k <= 0) return;
  gAllocations = 0;
  gFailed = false;
  gFailAt = k;
}

bool Failed() {
  return gFailed;
}

}  // namespace allocation_failure

void* operator new(std::size_t n) {
  if (gFailAt > 0 && ++gAllocations == gFailAt) {
    gFailed = true;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
