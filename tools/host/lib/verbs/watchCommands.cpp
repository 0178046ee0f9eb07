// Parsing the command lines of `watch --commands`.
#include "watchCommands.h"

#include "../nodePath.h"
#include "../numbers.h"

namespace kvqhost {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string trimmed(const std::string& text) {
    size_t from = 0, to = text.size();
    while (from < to && isSpace(text[from]))
        ++from;
    while (to > from && isSpace(text[to - 1]))
        --to;
    return text.substr(from, to - from);
}

// The first word of `text` (quoted or not), and what follows it.
bool takeWord(std::string& text, std::string& word, std::string& error) {
    text = trimmed(text);
    if (!text.empty() && text[0] == '"') {
        size_t close = text.find('"', 1);
        if (close == std::string::npos) {
            error = "a quote is not closed";
            return false;
        }
        word = text.substr(1, close - 1);
        text = text.substr(close + 1);
        if (!text.empty() && !isSpace(text[0])) {
            error = "a quoted word must be followed by a space";
            return false;
        }
        return true;
    }
    size_t end = 0;
    while (end < text.size() && !isSpace(text[end]))
        ++end;
    word = text.substr(0, end);
    text = text.substr(end);
    return true;
}

std::vector<std::string> words(const std::string& text, std::string& error) {
    std::vector<std::string> out;
    std::string rest = text, word;
    while (!trimmed(rest).empty() && takeWord(rest, word, error))
        out.push_back(word);
    return out;
}

} // namespace

bool parseWatchCommand(const std::string& line, WatchCommand& c, std::string& error) {
    c = WatchCommand();
    error.clear();
    std::string rest = trimmed(line);
    if (rest.empty() || rest[0] == '#') return true;
    std::string verb;
    takeWord(rest, verb, error);
    rest = trimmed(rest);
    const std::string usage =
        " (invoke PATH, command PATH CODE [W1], resources, loop, sleep MS, end)";

    if (verb == "invoke" || verb == "command") {
        c.kind = verb == "invoke" ? WatchCommand::Kind::Invoke : WatchCommand::Kind::Command;
        if (rest.empty()) {
            error = verb + " needs PATH" + usage;
            return false;
        }
        if (rest[0] == '"' || c.kind == WatchCommand::Kind::Command) {
            if (!takeWord(rest, c.path, error)) return false;
        } else {
            c.path = rest; // invoke: the rest of the line
            rest.clear();
        }
        std::vector<std::string> args = words(rest, error);
        if (!error.empty()) return false;
        if (!parsePath(c.path, c.names, error)) return false;
        if (c.kind == WatchCommand::Kind::Invoke) {
            if (args.empty()) return true;
            error = "too many words for invoke: \"" + args[0] + "\"" + usage;
            return false;
        }
        if (args.empty() || args.size() > 2) {
            error = args.empty() ? "command needs PATH and CODE" + usage
                                 : "too many words for command: \"" + args[2] + "\"" + usage;
            return false;
        }
        if (!parseCode(args[0], c.code)) {
            error = "CODE must be a 64-bit number (decimal, 0x hexadecimal or negative), not \"" +
                    args[0] + "\"";
            return false;
        }
        if (args.size() == 2) {
            uint64_t w1 = 0;
            if (!parseUnsigned(args[1], UINT32_MAX, w1)) {
                error = "W1 must be a 32-bit number (decimal or 0x hexadecimal), not \"" + args[1] +
                        "\"";
                return false;
            }
            c.w1 = static_cast<uint32_t>(w1);
        }
        return true;
    }

    std::vector<std::string> args = words(rest, error);
    if (!error.empty()) return false;
    if (verb == "resources" || verb == "loop" || verb == "end") {
        c.kind = verb == "end"    ? WatchCommand::Kind::End
                 : verb == "loop" ? WatchCommand::Kind::Loop
                                  : WatchCommand::Kind::Resources;
        if (args.empty()) return true;
        error = verb + " takes no arguments" + usage;
        return false;
    }
    if (verb == "sleep") {
        c.kind = WatchCommand::Kind::Sleep;
        uint64_t ms = 0;
        if (args.size() != 1 || !parseUnsigned(args[0], UINT32_MAX, ms)) {
            error = "sleep needs a number of milliseconds" + usage;
            return false;
        }
        c.ms = static_cast<uint32_t>(ms);
        return true;
    }
    c.kind = WatchCommand::Kind::Skip;
    error = "unknown command \"" + verb + "\"" + usage;
    return false;
}

} // namespace kvqhost
