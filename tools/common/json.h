// JSON lines for the tools' --json output (kvq-host, cm11a-sim): string escaping
// and a small builder for one flat object per line. Texts, a plug-in's above all,
// are 8-bit and may be in any encoding; valid UTF-8 passes through, every other
// byte is written as the code point of the same number (\u00XX), so each line
// stays valid JSON.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvqtools {

// `text` as a quoted JSON string.
std::string jsonString(const std::string& text);

class JsonObject {
public:
    JsonObject& text(const std::string& key, const std::string& value);
    JsonObject& number(const std::string& key, int64_t value);
    JsonObject& real(const std::string& key, double value, int decimals = 3);
    JsonObject& boolean(const std::string& key, bool value);
    JsonObject& null(const std::string& key);
    JsonObject& texts(const std::string& key, const std::vector<std::string>& values);
    // `json` must already be valid JSON (an array or object built elsewhere).
    JsonObject& raw(const std::string& key, const std::string& json);
    std::string str() const { return "{" + body_ + "}"; }

private:
    void key(const std::string& k);
    std::string body_;
};

} // namespace kvqtools
