// Command-line options read from a table, for the tools (kvq-host, cm11a-sim).
// Each Option names its flag, whether it takes a value and what to do with the
// value; the builders below bind an option to the field it fills. scanArguments
// reads "--flag value" and "--flag=value" in any order among the operands, and
// the help lines of a table come from the table too.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kvqtools {

struct Option {
    // Stores a value (a switch gets ""); false, with a one-line `error`, when it is bad.
    using Store = std::function<bool(const std::string& value, std::string& error)>;

    std::string flag;      // "--seconds"
    std::string alias;     // "-v", or empty
    std::string valueName; // "N" for an option that takes a value; empty for a switch
    bool repeats = false;  // may come more than once, each value kept
    bool forTests = false; // listed under its own heading in the help
    bool endsScan = false; // nothing after it is read (a --help that prints at once)
    std::string help;      // one or more lines, '\n' between them
    Store store;

    bool takesValue() const { return !valueName.empty(); }
    // "[--invoke PATH]...", as a usage line shows it.
    std::string usage() const;
    Option& tests() {
        forTests = true;
        return *this;
    }
};

Option switchOption(std::string flag, bool& field, std::string help);
// A switch that sets `field` to `value`.
Option switchOption(std::string flag, bool& field, bool value, std::string help);
Option textOption(std::string flag, std::string valueName, std::string& field, std::string help);
Option textsOption(std::string flag, std::string valueName, std::vector<std::string>& field,
                   std::string help);
Option valueOption(std::string flag, std::string valueName, Option::Store store, std::string help);

// How a tool reads its command line.
struct Syntax {
    // Words not starting with '-', and "-", are operands, and "--" ends the
    // options; without operands every word is looked up as an option.
    bool operands = true;
    std::function<std::string(const std::string& word)> unknown;    // the error for an unknown one
    std::function<std::string(const std::string& flag)> needsValue; // ... for a missing value
};

struct GivenOption {
    const Option* option;
    std::string value;
};

// Reads `args` in order: each option found by `find` (null for an unknown one)
// is stored at once and listed in `given`, the operands go to `operands`.
// Stops at the first error (false) or after an option that ends the scan.
bool scanArguments(const std::vector<std::string>& args,
                   const std::function<const Option*(const std::string& flag)>& find,
                   const Syntax& syntax, std::vector<std::string>& operands,
                   std::vector<GivenOption>& given, std::string& error);

// The option among `options` that has `flag` (or its alias); null when none has.
const Option* findOption(const std::vector<Option>& options, const std::string& flag);

// Help lines of the options, each "  --flag VALUE" with its help from `column`
// on; those for tests only when `forTests`.
std::string optionHelp(const std::vector<Option>& options, size_t column, bool forTests = false);

// `words` after `head`, wrapped before `width` columns; continued lines are
// indented by `indent` spaces.
std::string wrapWords(const std::string& head, const std::vector<std::string>& words, size_t width,
                      size_t indent);

// "a", "a or b", "a, b or c" (`last` may be " and ").
std::string either(const std::vector<std::string>& words, const char* last = " or ");

// The words of `text` between spaces.
std::vector<std::string> words(const std::string& text);

} // namespace kvqtools
