#include "base/memory.h"

#include <cstdio>
#include <cstdlib>

namespace {
[[noreturn]] void outOfMemory(size_t size) {
    std::fprintf(stderr, "kvq: out of memory allocating %u bytes\n", static_cast<unsigned>(size));
    std::abort();
}
} // namespace

void* kvqAllocate(size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) outOfMemory(size);
    return block;
}

void* kvqReallocate(void* block, size_t size) {
    void* grown = std::realloc(block, size == 0 ? 1 : size);
    if (grown == nullptr) outOfMemory(size);
    return grown;
}
