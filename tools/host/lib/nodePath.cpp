#include "nodePath.h"

namespace kvqhost {

bool parsePath(const std::string& text, std::vector<std::string>& names, std::string& error) {
    names.clear();
    size_t i = 0;
    if (!text.empty() && text[0] == '/') i = 1;
    std::string current;
    bool pending = false; // a name has started (possibly empty so far)
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\') {
            if (i + 1 >= text.size() || (text[i + 1] != '/' && text[i + 1] != '\\')) {
                error = "bad escape in path \"" + text + "\": only \\/ and \\\\ are known";
                return false;
            }
            current += text[++i];
            pending = true;
        } else if (c == '/') {
            if (current.empty()) {
                error = "empty name in path \"" + text + "\"";
                return false;
            }
            names.push_back(current);
            current.clear();
            pending = false;
        } else {
            current += c;
            pending = true;
        }
    }
    if (pending) names.push_back(current);
    return true;
}

std::string formatPath(const std::vector<std::string>& names) {
    std::string out;
    for (size_t n = 0; n < names.size(); ++n) {
        if (n) out += '/';
        for (char c : names[n]) {
            if (c == '/' || c == '\\') out += '\\';
            out += c;
        }
    }
    return out;
}

} // namespace kvqhost
