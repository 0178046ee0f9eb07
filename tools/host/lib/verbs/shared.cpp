// The pieces of option handling that several verbs share.
#include "../nodePath.h"
#include "verbs.h"

namespace kvqhost {

using kvqtools::Option;

bool takeLibrary(const std::string& word, SessionOptions& o, std::string& error) {
    o.library = word;
    if (!o.library.empty()) return true;
    error = "the library path is empty";
    return false;
}

std::vector<Option> loopOptions(LoopOptions& o, const char* secondsName, const char* secondsHelp,
                                const char* invokeHelp) {
    return {secondsOption("--seconds", secondsName, o.seconds, 0, "0", secondsHelp),
            kvqtools::textsOption("--invoke", "PATH", o.invokes, invokeHelp)};
}

bool takeLoopOperands(const std::vector<std::string>& words, LoopOptions& o, std::string& error) {
    if (!takeLibrary(words[0], o, error)) return false;
    for (const std::string& p : o.invokes) {
        std::vector<std::string> names;
        if (!parsePath(p, names, error)) return false;
        o.invokeNames.push_back(names);
    }
    return true;
}

Option countOption(const char* flag, const char* valueName, uint32_t& field, uint32_t lo,
                   uint32_t hi, const char* unit, const char* help) {
    std::string bad = std::string(flag) + " needs a number of " + unit + " from " +
                      std::to_string(lo) + " to " + std::to_string(hi) + ", not \"";
    return kvqtools::valueOption(
        flag, valueName,
        [&field, lo, hi, bad](const std::string& value, std::string& error) {
            uint64_t n = 0;
            if (!parseUnsigned(value, hi, n) || n < lo) {
                error = bad + value + "\"";
                return false;
            }
            field = static_cast<uint32_t>(n);
            return true;
        },
        help);
}

Option secondsOption(const char* flag, const char* valueName, double& field, double least,
                     const char* leastText, const char* help) {
    std::string bad =
        std::string(flag) + " needs a number of seconds from " + leastText + " to 1000000, not \"";
    return kvqtools::valueOption(
        flag, valueName,
        [&field, least, bad](const std::string& value, std::string& error) {
            double s = 0;
            if (!parseSeconds(value, s) || s < least) {
                error = bad + value + "\"";
                return false;
            }
            field = s;
            return true;
        },
        help);
}

} // namespace kvqhost
