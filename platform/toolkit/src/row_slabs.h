#pragma once

#include <cstddef>

// Memory for list view rows. A query fills a list view with a hundred
// thousand rows and empties it at once: rows are cut one after the other from
// slabs that grow from 4 KiB to 2 MiB and are mapped with their pages already
// present, so that filling a large list costs a system call per slab instead
// of a page fault per 4 KiB and an allocator call per row. A slab whose last
// row is freed is kept for the rows that come next (a query empties its list
// and fills it again), up to 32 MiB of them while any list of rows lives, and
// otherwise goes back to the system; the place of a row freed while others of
// its slab live is not used again. GUI thread only, like the controls.
namespace toolkit_detail {

// Throws std::bad_alloc when no slab can be mapped.
void* AllocateRow(std::size_t size);
// A pointer AllocateRow gave (null: nothing).
void FreeRow(void* row);
// A list of rows begins or ends; when the last one has ended, the kept slabs
// go back to the system.
void RowListCreated();
void RowListDestroyed();

}  // namespace toolkit_detail
