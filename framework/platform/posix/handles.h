// Handle tables of the POSIX platform library, and the few calls its files
// share among themselves.
//
// A Handle given out for a thread, mutex, serial device or wait object is not
// an address but a number: a kind tag, a slot index and the slot's generation.
// Looking a handle up yields a shared reference to the object, so an object
// stays alive while any call is still using it, and a handle that was closed
// (or never valid, or of another kind) simply fails to resolve: a stale handle
// never reaches freed memory or a reused file descriptor.
#pragma once

#include "platform/seam.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace plat {
namespace detail {

// The wait cap of testing::capWaits: `milliseconds`, or less while a cap is set.
uint32_t cappedWait(uint32_t milliseconds);
// The message loop of windows.cpp, which the host's pumpMessages runs.
int pumpMessages(uint32_t timeoutMs);
// The one listener of debugOutput (module.cpp); null for none.
void listenDebugOutput(void (*listener)(const char* text));
// A worker's end (threads.cpp): held while a request of its own is pending
// (serial.cpp, testing::pendingRequestsHoldTheirThread).
void awaitOwnRequests();

enum class HandleKind : uint32_t { thread = 1, mutex = 2, serial = 3, waitObject = 4 };

template <class T> class HandleTable {
public:
    explicit HandleTable(HandleKind kind) : kind_(static_cast<uint32_t>(kind)) {}

    // Stores the object and returns its new handle; null when the table is full.
    Handle add(std::shared_ptr<T> object) {
        std::lock_guard<std::mutex> guard(lock_);
        size_t index;
        if (!free_.empty()) {
            index = free_.front();
            free_.pop_front();
        } else if (slots_.size() < kMaxSlots) {
            index = slots_.size();
            slots_.emplace_back();
        } else {
            return nullptr;
        }
        Slot& slot = slots_[index];
        slot.object = std::move(object);
        ++live_;
        return encode(index, slot.generation);
    }

    // The object behind a handle, or null when the handle is not a live one of this table.
    std::shared_ptr<T> find(Handle handle) {
        std::lock_guard<std::mutex> guard(lock_);
        Slot* slot = resolve(handle);
        return slot ? slot->object : nullptr;
    }

    // Takes the object out of the table; the handle is dead from here on. The object
    // itself lives on while some caller still holds a reference.
    std::shared_ptr<T> remove(Handle handle) {
        std::lock_guard<std::mutex> guard(lock_);
        Slot* slot = resolve(handle);
        if (!slot) return nullptr;
        std::shared_ptr<T> object = std::move(slot->object);
        slot->object.reset();
        slot->generation = (slot->generation + 1) & kGenerationMask;
        if (slot->generation == 0) slot->generation = 1;
        free_.push_back(static_cast<size_t>(slot - slots_.data()));
        --live_;
        return object;
    }

    int live() {
        std::lock_guard<std::mutex> guard(lock_);
        return live_;
    }

    // Runs f on every live object under the table's lock.
    template <class F> void forEach(F f) {
        std::lock_guard<std::mutex> guard(lock_);
        for (Slot& slot : slots_)
            if (slot.object) f(*slot.object);
    }

private:
    static constexpr uint32_t kKindBits = 3;
    static constexpr uint32_t kIndexBits = 11;
    static constexpr size_t kMaxSlots = (1u << kIndexBits) - 1;
    static constexpr uint32_t kGenerationMask = (1u << (32 - kKindBits - kIndexBits)) - 1;

    struct Slot {
        uint32_t generation = 1;
        std::shared_ptr<T> object;
    };

    Handle encode(size_t index, uint32_t generation) const {
        uint32_t value = kind_ | (static_cast<uint32_t>(index + 1) << kKindBits) |
                         (generation << (kKindBits + kIndexBits));
        return reinterpret_cast<Handle>(static_cast<uintptr_t>(value));
    }

    Slot* resolve(Handle handle) {
        uint32_t value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
        if ((value & ((1u << kKindBits) - 1)) != kind_) return nullptr;
        uint32_t index = (value >> kKindBits) & ((1u << kIndexBits) - 1);
        uint32_t generation = value >> (kKindBits + kIndexBits);
        if (index == 0 || index > slots_.size()) return nullptr;
        Slot& slot = slots_[index - 1];
        if (!slot.object || slot.generation != generation) return nullptr;
        return &slot;
    }

    const uint32_t kind_;
    std::mutex lock_;
    std::vector<Slot> slots_;
    std::deque<size_t> free_; // reused oldest first, so generations advance slowly
    int live_ = 0;
};

} // namespace detail
} // namespace plat
