// Physical addresses of a host panel. The board's drivers hand the physical
// addresses of their buffers to bus masters (the pixel pipeline) and find them
// through "/proc/self/pagemap". A host process has no physical addresses it
// could use, so memory that a stand-in device may reach (the frame memory) is
// registered here under a made-up physical address; the page map answers for
// those pages and reports every other page as not present.
#pragma once
#include <cstddef>
#include <cstdint>

namespace host {

size_t page_size();

// Registers `len` bytes at `virt` (page-aligned) as physical memory from `phys`.
void phys_register(void *virt, size_t len, uint32_t phys);
void phys_unregister(void *virt);

// The 8-byte "/proc/self/pagemap" entry of virtual page `index` (bit 63
// present, bits 0-54 the page frame number). False when the map cannot be read.
bool pagemap_entry(uint64_t index, uint64_t *entry);
// mlock of the page holding `addr` (a bus master must not see it move).
void lock_page(const void *addr);

// The host memory behind the physical bytes [phys, phys + len); null unless
// all of them lie in one registered region. Used by the stand-in devices.
uint8_t *phys_to_virt(uint32_t phys, size_t len);

void phys_reset();

} // namespace host
