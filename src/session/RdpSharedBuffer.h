#pragma once

#include <QtGlobal>

#include <cstddef>

// The client library's drawing buffer in a System V shared memory segment, so
// that an X server on this machine can take the picture from it without a copy
// (MIT-SHM). The segment is marked for removal as soon as this process has it
// attached: it goes with the last attachment, the process's end included, and
// never outlives the program.
namespace RdpSharedBuffer {

struct Buffer {
    uchar *pixels = nullptr; // null when the system gave no segment
    int segment = -1;
};

// A zeroed buffer of this many bytes in a segment of its own, or none.
Buffer Allocate(std::size_t bytes);
// Lets a buffer made by Allocate go: the library's free function for it.
void Free(void *pixels);

} // namespace RdpSharedBuffer
