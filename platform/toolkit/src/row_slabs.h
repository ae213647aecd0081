#pragma once

#include <cstddef>

// Memory for list view rows. A query fills a list view with a hundred
// thousand rows and empties it at once: rows are cut one after the other from
// slabs that grow from 4 KiB to 2 MiB and are mapped with their pages already
// present, so that filling a large list costs a system call per slab instead
// of a page fault per 4 KiB and an allocator call per row. A slab goes back to
// the system when its last row is freed; the place of a row freed before
// that is not used again. GUI thread only, like the controls themselves.
namespace toolkit_detail {

// Throws std::bad_alloc when no slab can be mapped.
void* AllocateRow(std::size_t size);
// A pointer AllocateRow gave (null: nothing).
void FreeRow(void* row);

}  // namespace toolkit_detail
