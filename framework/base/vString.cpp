#include "base/vString.h"

#include "base/memory.h"

#include <cstdlib>
#include <cstring>

vString::~vString() {
    std::free(text_);
}

void vString::changed(const char*) {}

void vString::set(const char* text, bool notify) {
    if (text == text_) return;
    const char* announced = text;
    if (text == nullptr) {
        std::free(text_);
        text_ = nullptr;
    } else {
        // The text may lie inside our own buffer (a suffix of it): copy it out
        // before the old buffer goes, and announce the copy in that case.
        size_t length = std::strlen(text);
        bool aliased = text_ != nullptr && text > text_ && text <= text_ + std::strlen(text_);
        char* copy = static_cast<char*>(kvqAllocate(length + 1));
        std::memcpy(copy, text, length + 1);
        std::free(text_);
        text_ = copy;
        if (aliased) announced = text_;
    }
    if (notify) changed(announced);
}
