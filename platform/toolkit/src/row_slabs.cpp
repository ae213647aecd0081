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
constexpr std::size_t kKeptBytes = std::size_t{32} << 20;

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
  // Empty slabs kept for the next rows, and how many lists of rows live.
  std::multimap<std::size_t, char*> kept;  // by size
  std::size_t keptBytes = 0;
  int lists = 0;
};

// Never destroyed: rows of controls that outlive main may still be freed.
Slabs& State() {
  static Slabs* slabs = new Slabs;
  return *slabs;
}

void NewSlab(Slabs& s, std::size_t size) {
  char* base = nullptr;
  std::size_t bytes = 0;
  if (!s.kept.empty() && std::prev(s.kept.end())->first >= size) {
    // The largest kept slab: its pages are there already.
    auto largest = std::prev(s.kept.end());
    bytes = largest->first;
    base = largest->second;
    s.kept.erase(largest);
    s.keptBytes -= bytes;
  } else {
    bytes = std::max(s.nextBytes, (size + 4095) / 4096 * 4096);
    void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    base = static_cast<char*>(mapped);
    s.nextBytes = std::min(s.nextBytes * 2, kLastSlabBytes);
  }
  auto [it, inserted] = s.byBase.emplace(base, Slab{bytes});
  (void)inserted;
  s.current = &it->second;
  s.next = base;
  s.end = base + bytes;
}

void ReleaseKept(Slabs& s) {
  for (const auto& [bytes, base] : s.kept) munmap(base, bytes);
  s.kept.clear();
  s.keptBytes = 0;
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
  const std::size_t bytes = slab->bytes;
  s.byBase.erase(base);
  if (s.lists > 0 && s.keptBytes + bytes <= kKeptBytes) {
    s.kept.emplace(bytes, base);
    s.keptBytes += bytes;
  } else {
    munmap(base, bytes);
  }
  // With no row left anywhere, small lists start from small slabs again.
  if (s.byBase.empty()) s.nextBytes = kFirstSlabBytes;
}

void RowListCreated() {
  ++State().lists;
}

void RowListDestroyed() {
  Slabs& s = State();
  if (--s.lists <= 0) {
    s.lists = 0;
    ReleaseKept(s);
  }
}

}  // namespace toolkit_detail
