#include "row_slabs.h"

#include <sys/mman.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <new>

namespace toolkit_detail {

namespace {

constexpr std::size_t kFirstSlabBytes = 4096;
constexpr std::size_t kLastSlabBytes = std::size_t{2} << 20;
constexpr std::size_t kAlign = alignof(std::max_align_t);

struct Slab {
  std::size_t bytes;
  std::size_t live = 0;  // rows not yet freed
};

struct Slabs {
  std::map<char*, Slab> byBase;  // a handful: slabs double up to 2 MiB
  Slab* current = nullptr;       // the slab rows are cut from
  char* next = nullptr;
  char* end = nullptr;
  std::size_t nextBytes = kFirstSlabBytes;
  // Rows are mostly freed in the order they came: the slab of the last one.
  char* lastFreedBase = nullptr;
  Slab* lastFreed = nullptr;
};

// Never destroyed: rows of controls that outlive main may still be freed.
Slabs& State() {
  static Slabs* slabs = new Slabs;
  return *slabs;
}

void NewSlab(Slabs& s, std::size_t size) {
  const std::size_t bytes = std::max(s.nextBytes, (size + 4095) / 4096 * 4096);
  void* base = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (base == MAP_FAILED) throw std::bad_alloc();
  auto [it, inserted] = s.byBase.emplace(static_cast<char*>(base), Slab{bytes});
  (void)inserted;
  s.current = &it->second;
  s.next = it->first;
  s.end = it->first + bytes;
  s.nextBytes = std::min(s.nextBytes * 2, kLastSlabBytes);
}

}  // namespace

void* AllocateRow(std::size_t size) {
  Slabs& s = State();
  size = (std::max<std::size_t>(size, 1) + kAlign - 1) / kAlign * kAlign;
  if (s.current == nullptr || static_cast<std::size_t>(s.end - s.next) < size) NewSlab(s, size);
  void* row = s.next;
  s.next += size;
  ++s.current->live;
  return row;
}

void FreeRow(void* row) {
  if (row == nullptr) return;
  Slabs& s = State();
  char* p = static_cast<char*>(row);
  char* base = s.lastFreedBase;
  Slab* slab = s.lastFreed;
  if (slab == nullptr || p < base || p >= base + slab->bytes) {
    auto it = s.byBase.upper_bound(p);
    if (it == s.byBase.begin()) return;  // not a row of ours
    --it;
    if (p >= it->first + it->second.bytes) return;
    base = it->first;
    slab = &it->second;
  }
  if (--slab->live > 0) {
    s.lastFreedBase = base;
    s.lastFreed = slab;
    return;
  }
  if (slab == s.current) s.current = nullptr;
  if (slab == s.lastFreed) s.lastFreed = nullptr;
  munmap(base, slab->bytes);
  s.byBase.erase(base);
  // With no row left anywhere, small lists start from small slabs again.
  if (s.byBase.empty()) s.nextBytes = kFirstSlabBytes;
}

}  // namespace toolkit_detail
