// The system's list of device names (kvq-host's ports), read into a buffer
// that grows until the list fits. QueryDosDeviceA with no name says that the
// buffer was too small with ERROR_INSUFFICIENT_BUFFER, as documented, or, on
// some Windows 10 and 11 systems, whose lists often pass 16 KiB, with
// ERROR_MORE_DATA: both mean "ask again with a larger buffer". The query is
// a parameter, so the growth is tested without the system.
#pragma once

#include <cstdint>
#include <vector>

namespace plat {

constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorMoreData = 234;
constexpr uint32_t kFirstNameListSize = 16384;
constexpr uint32_t kLargestNameListSize = 1u << 22; // 4 MiB: 9 queries at most

// `query(buffer, size, &error)` fills `buffer` as QueryDosDeviceA does: it
// returns the characters stored, or 0 with the system's error code in `error`.
// The result is the list, zero-terminated names ending with an empty one, or
// an empty vector when the query failed otherwise or the list outgrew the bound.
template <typename Query> std::vector<char> readNameList(Query query) {
    std::vector<char> names;
    for (uint32_t size = kFirstNameListSize; size <= kLargestNameListSize; size *= 2) {
        names.assign(size, '\0');
        uint32_t error = 0;
        const uint32_t stored = query(names.data(), size, &error);
        if (stored != 0) {
            names.resize(stored < size ? stored : size);
            names.insert(names.end(), 2, '\0'); // ended, whatever the system left out
            return names;
        }
        if (error != kErrorInsufficientBuffer && error != kErrorMoreData) break;
    }
    return std::vector<char>();
}

} // namespace plat
