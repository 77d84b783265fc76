#pragma once

// What a hostile-server case measures about the whole process: the bytes held by live heap
// blocks (now and at the peak since a mark) and the number of open descriptors.
//
// The heap meter counts every malloc-family block of every thread, Qt's containers included
// (they allocate with malloc, not operator new). In a plain build it does so by standing in
// for malloc, free and their kin in this test program and forwarding to the C library's own
// allocator; under AddressSanitizer or ThreadSanitizer, which own the allocator themselves, it
// listens through their allocation hooks instead. Sizes are the usable sizes of the blocks, so
// the meter sees the allocator's rounding too.

#include <cstdint>

namespace hostile {

// Bytes in live heap blocks right now.
int64_t LiveHeapBytes();
// Makes the current live size the new peak, so that PeakHeapBytes() tells the most held from
// now on.
void ResetHeapPeak();
// The most bytes live at any moment since the last ResetHeapPeak() (or the program's start).
int64_t PeakHeapBytes();

// Entries of /proc/self/fd, not counting the one the count itself opens. -1 when the list
// cannot be read.
int OpenDescriptorCount();

} // namespace hostile
