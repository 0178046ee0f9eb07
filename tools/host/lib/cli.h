// The kvq-host command line: the options every verb takes, the Verb each file
// of verbs/ declares (its arguments, help, table of options and run function),
// the generic parser and the help built from those tables (cli.cpp), and
// runTool, which runs the verb named (tool.cpp). Kept out of main() so the
// tests can run the tool in-process.
#pragma once

#include "common/options.h"
#include "numbers.h"

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace kvqhost {

// The options of every verb; each verb's own options derive from it.
struct VerbOptions {
    virtual ~VerbOptions() = default;
    bool json = false;
    bool verbose = false;
};

// A subcommand of kvq-host. VerbOf binds the functions of one verb's file to its
// own options struct.
class Verb {
public:
    struct Text {
        const char* name;     // "command"
        const char* operands; // "LIB PATH CODE [W1]": the counts of operands come from it
        const char* summary;  // one or two lines for the tool's help
        const char* about;    // the verb's help before its options
        const char* more;     // ... after them (may be "")
        bool eventLines;      // followed by the lines of what the plug-in reports
    };
    explicit Verb(const Text& text) : text_(text) {}
    virtual ~Verb() = default;
    const Text& text() const { return text_; }

    virtual std::unique_ptr<VerbOptions> newOptions() const = 0;
    // The verb's own options, bound to the fields of `options` they fill.
    virtual std::vector<kvqtools::Option> options(VerbOptions& options) const = 0;
    // The words after the verb's name, in the number its operands allow; false
    // with one error line.
    virtual bool takeOperands(const std::vector<std::string>& words, VerbOptions& options,
                              std::string& error) const = 0;
    virtual int run(const VerbOptions& options, std::ostream& out, std::ostream& err) const = 0;

private:
    Text text_;
};

template <class O> class VerbOf final : public Verb {
public:
    using Table = std::function<std::vector<kvqtools::Option>(O&)>;
    using Operands = std::function<bool(const std::vector<std::string>&, O&, std::string&)>;
    using Run = std::function<int(const O&, std::ostream&, std::ostream&)>;
    VerbOf(const Text& text, Table table, Operands operands, Run run)
        : Verb(text), table_(table), operands_(operands), run_(run) {}

    std::unique_ptr<VerbOptions> newOptions() const override { return std::make_unique<O>(); }
    std::vector<kvqtools::Option> options(VerbOptions& o) const override {
        return table_(static_cast<O&>(o));
    }
    bool takeOperands(const std::vector<std::string>& words, VerbOptions& o,
                      std::string& error) const override {
        return operands_(words, static_cast<O&>(o), error);
    }
    int run(const VerbOptions& o, std::ostream& out, std::ostream& err) const override {
        return run_(static_cast<const O&>(o), out, err);
    }

private:
    Table table_;
    Operands operands_;
    Run run_;
};

// Every verb, in the order of the help (tool.cpp).
const std::vector<const Verb*>& allVerbs();

// A command line read: the verb it names and its options.
struct Invocation {
    const Verb* verb = nullptr; // none for the tool's own help
    std::unique_ptr<VerbOptions> options;
    template <class O> const O& as() const { return dynamic_cast<const O&>(*options); }
};

enum class Parsed { Run, Help, Error };

// `args` without the program name. On Error, `error` is one line.
Parsed parseArguments(const std::vector<std::string>& args, Invocation& invocation,
                      std::string& error);
// Help for one verb, or for the tool when `verb` is null.
std::string helpText(const Verb* verb);
// One usage line (or two) per verb with its own options, as the tool's help and
// tools/host/README.md show them.
std::string synopsis();

// Runs the tool; returns the exit code (0 done, 1 the library or a path could
// not be used, 2 bad arguments, 3 cycles left something behind; probe: 0 a
// controller answered, 1 none did). Results go to `out`, errors to
// `err`, one line each.
int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace kvqhost
