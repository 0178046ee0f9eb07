// Heap allocation for the framework's own buffers. Memory exhaustion is not a
// condition the framework handles, but it never writes through a null pointer:
// a failed allocation ends the process at once with a message.
#pragma once

#include <cstddef>

void* kvqAllocate(size_t size);
void* kvqReallocate(void* block, size_t size);
