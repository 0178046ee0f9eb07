// Fuzz target: `parse` and every text conversion of vValue on arbitrary bytes.
// Besides the sanitizers it checks what must hold for any text: the value's own
// text form reads back equal, numbers survive a round trip through their text,
// and a locked value keeps its content.
#include "value/vValue.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
void require(bool condition) {
    if (!condition) std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    const char* input = text.c_str(); // stops at the first zero byte, as a C text does

    vValue value("fuzz");
    value.parse(input);
    const char* form = value.asText();
    require(value.isEmpty() == (form == nullptr));
    if (form != nullptr) {
        std::string copy = form;
        require(value.textEquals(copy.c_str()) == 1);
        (void)value.asInt();
        (void)value.asInt64();
        (void)value.asReal();
        (void)value.asGuid();
        if (value.isInt32()) {
            vValue again;
            again.parse(copy.c_str());
            require(again.isInt32() && again.asInt() == value.asInt());
        }
        if (value.isGuid()) {
            vValue again;
            again.parse(copy.c_str());
            vGuid a = value.asGuid(), b = again.asGuid();
            require(again.isGuid() && std::memcmp(&a, &b, sizeof a) == 0);
        }
        // Setting a value from its own text form must store that text.
        value.setText(value.asText(), -1);
        require(value.isText() && copy == value.asText());
    }

    vValue locked;
    locked.setInt(7);
    locked.setHeaderBit(vValue::lockedBit, true);
    locked.parse(input);
    locked.setText(input, -1);
    require(locked.isInt32() && locked.asInt() == 7);

    (void)classifyWord(input);
    (void)isGuidText(input, -1);
    (void)textToGuid(input);
    return 0;
}
