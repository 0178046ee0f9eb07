// vExtension: an object the host may address through category 7 of the entry.
// After a first slot that the entry never calls, its table holds four
// operations, which the entry forwards; no plug-in implements one.
#pragma once

#include <cstdint>

class vExtension {
public:
    virtual void reserved();
    virtual void first(uint32_t a0, uint32_t a2, uint32_t a4);
    virtual void second(uint32_t a0, uint32_t a2);
    virtual void third(uint32_t a0, uint32_t a2, uint32_t a4);
    virtual void fourth(uint32_t a0, uint32_t a2, uint32_t a4);

protected:
    ~vExtension() = default;
};
