#include "RdpSharedBuffer.h"

#include <sys/ipc.h>
#include <sys/shm.h>

namespace RdpSharedBuffer {

Buffer Allocate(std::size_t bytes)
{
    if (bytes == 0)
        return {};
    // Readable and writable by this user alone: the X server checks the
    // connecting client's user against the segment's.
    const int segment = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (segment < 0)
        return {};
    void *address = shmat(segment, nullptr, 0);
    // Marked for removal at once: Linux still lets the X server attach it by
    // its id, and nothing is left behind however the process ends.
    shmctl(segment, IPC_RMID, nullptr);
    if (address == reinterpret_cast<void *>(-1))
        return {};
    return {static_cast<uchar *>(address), segment};
}

void Free(void *pixels)
{
    if (pixels)
        shmdt(pixels);
}

} // namespace RdpSharedBuffer
