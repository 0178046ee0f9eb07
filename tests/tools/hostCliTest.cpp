// kvq-host's command line without a plug-in: paths, numbers, arguments, JSON
// escaping, and the errors for libraries it cannot use.
#include "childProcess.h"
#include "common/json.h"
#include "lib/cli.h"
#include "lib/nodePath.h"
#include "lib/verbs/verbs.h"
#include "lib/verbs/watchCommands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

using namespace kvqhost;
using kvqtools::JsonObject;
using kvqtools::jsonString;

namespace {

std::vector<std::string> names(const std::string& path) {
    std::vector<std::string> out;
    std::string error;
    EXPECT_TRUE(parsePath(path, out, error)) << path << ": " << error;
    return out;
}

bool pathFails(const std::string& path) {
    std::vector<std::string> out;
    std::string error;
    bool ok = parsePath(path, out, error);
    return !ok && !error.empty();
}

TEST(HostPath, SplitsNamesWithSpacesColonsAndEscapes) {
    EXPECT_EQ(names("X10/House Code: A/Unit Code: 1/Power On"),
              (std::vector<std::string>{"X10", "House Code: A", "Unit Code: 1", "Power On"}));
    EXPECT_EQ(names("/Group/Leaf A/"), (std::vector<std::string>{"Group", "Leaf A"}));
    EXPECT_TRUE(names("").empty());
    EXPECT_TRUE(names("/").empty());
    EXPECT_EQ(names(" a /b"), (std::vector<std::string>{" a ", "b"})) << "spaces are kept";
    EXPECT_EQ(names("a\\/b/c\\\\"), (std::vector<std::string>{"a/b", "c\\"}));
    EXPECT_TRUE(pathFails("a//b"));
    EXPECT_TRUE(pathFails("//"));
    EXPECT_TRUE(pathFails("a\\"));
    EXPECT_TRUE(pathFails("a\\b"));

    std::vector<std::string> odd{"a/b", "c\\d", "Unit Code: 1"};
    EXPECT_EQ(names(formatPath(odd)), odd);
    EXPECT_EQ(formatPath({}), "");
}

TEST(HostNumbers, ParsesCodesWordsAndSeconds) {
    uint64_t v = 0;
    EXPECT_TRUE(parseCode("288", v));
    EXPECT_EQ(v, 288u);
    EXPECT_TRUE(parseCode("0x121", v));
    EXPECT_EQ(v, 289u);
    EXPECT_TRUE(parseCode("-1", v));
    EXPECT_EQ(v, UINT64_MAX);
    EXPECT_TRUE(parseCode("18446744073709551615", v));
    EXPECT_EQ(v, UINT64_MAX);
    EXPECT_FALSE(parseCode("18446744073709551616", v));
    EXPECT_FALSE(parseCode("0x10000000000000000", v));
    for (const char* bad : {"", "-", "0x", "12a", "+5", "1 ", "-0x5", "0x-5"})
        EXPECT_FALSE(parseCode(bad, v)) << bad;
    EXPECT_TRUE(parseUnsigned("0xFFFFFFFF", UINT32_MAX, v));
    EXPECT_FALSE(parseUnsigned("4294967296", UINT32_MAX, v));

    double s = -1;
    EXPECT_TRUE(parseSeconds("2.5", s));
    EXPECT_DOUBLE_EQ(s, 2.5);
    EXPECT_TRUE(parseSeconds("0", s));
    EXPECT_EQ(s, 0.0);
    for (const char* bad : {"", "-1", "abc", "1x", "nan", "inf", "1e7", " 1"})
        EXPECT_FALSE(parseSeconds(bad, s)) << bad;
}

Parsed parse(std::vector<std::string> args, Invocation& o, std::string& error) {
    return parseArguments(args, o, error);
}

TEST(HostArguments, AcceptsEachSubcommandWithItsOptions) {
    Invocation o;
    std::string error;
    ASSERT_EQ(parse({"tree", "lib.so", "--json", "--no-build"}, o, error), Parsed::Run) << error;
    EXPECT_EQ(o.verb, &treeVerb());
    EXPECT_EQ(o.as<TreeOptions>().library, "lib.so");
    EXPECT_TRUE(o.options->json);
    EXPECT_FALSE(o.as<TreeOptions>().build);

    ASSERT_EQ(parse({"-v", "invoke", "x.dll", "X10/House Code: A/Unit Code: 1/Power On"}, o, error),
              Parsed::Run)
        << error;
    EXPECT_TRUE(o.options->verbose);
    EXPECT_EQ(o.as<CommandOptions>().names.size(), 4u);
    EXPECT_EQ(o.as<CommandOptions>().code, 289u);

    ASSERT_EQ(parse({"command", "x", "X10/House Code: B/Unit Code: 10", "288", "0x10"}, o, error),
              Parsed::Run)
        << error;
    EXPECT_EQ(o.as<CommandOptions>().code, 288u);
    EXPECT_EQ(o.as<CommandOptions>().w1.value_or(0), 0x10u);
    ASSERT_EQ(parse({"command", "x", "p", "1"}, o, error), Parsed::Run);
    EXPECT_FALSE(o.as<CommandOptions>().w1.has_value());

    ASSERT_EQ(parse({"--seconds=2.5", "watch", "x", "--invoke", "a/b", "--invoke=c", "--progress",
                     "--json"},
                    o, error),
              Parsed::Run)
        << error;
    const auto& watch = o.as<WatchOptions>();
    EXPECT_DOUBLE_EQ(watch.seconds, 2.5);
    EXPECT_EQ(watch.invokes, (std::vector<std::string>{"a/b", "c"}));
    EXPECT_EQ(watch.invokeNames.at(0), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(watch.progress);
    ASSERT_EQ(parse({"cycles", "x"}, o, error), Parsed::Run) << error;
    EXPECT_DOUBLE_EQ(o.as<CyclesOptions>().seconds, 0.5) << "cycles has a default of its own";

    ASSERT_EQ(parse({"probe", "COM1", "COM12", "--lines", "--wait=2000"}, o, error), Parsed::Run)
        << error;
    EXPECT_EQ(o.as<ProbeOptions>().ports, (std::vector<std::string>{"COM1", "COM12"}));
    EXPECT_TRUE(o.as<ProbeOptions>().lines);
    EXPECT_EQ(o.as<ProbeOptions>().waitMs, 2000u);
    ASSERT_EQ(parse({"ports", "--json"}, o, error), Parsed::Run) << error;

    ASSERT_EQ(parse({"invoke", "x", "--", "-odd name"}, o, error), Parsed::Run) << error;
    EXPECT_EQ(o.as<CommandOptions>().path, "-odd name");

    EXPECT_EQ(parse({"--help"}, o, error), Parsed::Help);
    EXPECT_EQ(o.verb, nullptr);
    EXPECT_EQ(parse({"watch", "--help"}, o, error), Parsed::Help);
    EXPECT_EQ(o.verb, &watchVerb());
    EXPECT_NE(helpText(&watchVerb()).find("--seconds"), std::string::npos);
    EXPECT_NE(helpText(nullptr).find("Usage: kvq-host"), std::string::npos);
}

TEST(HostArguments, RejectsBadArgumentsWithOneLine) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate", "x"},
        {"tree"},
        {"tree", "x", "extra"},
        {"invoke", "x"},
        {"command", "x", "p"},
        {"command", "x", "p", "twelve"},
        {"command", "x", "p", "1", "4294967296"},
        {"command", "x", "p", "1", "2", "3"},
        {"tree", "x", "--bogus"},
        {"tree", "x", "--invoke", "a"},
        {"invoke", "x", "p", "--no-build"},
        {"watch", "x", "--seconds"},
        {"watch", "x", "--seconds", "-1"},
        {"watch", "x", "--json=yes"},
        {"invoke", "x", "a//b"},
        {"watch", "x", "--invoke", "a\\q"},
        {"tree", ""},
        {"tree", "x", "--commands"},
        {"watch", "x", "--resources", "0"},
        {"watch", "x", "--resources"},
        {"ports", "COM1"},
        {"probe", "--wait", "50"},
        {"probe", "--seconds", "2"},
        {"tree", "x", "--lines"},
    };
    for (const auto& args : bad) {
        Invocation o;
        std::string error;
        std::string shown;
        for (const auto& a : args)
            shown += a + " ";
        EXPECT_EQ(parse(args, o, error), Parsed::Error) << shown;
        EXPECT_FALSE(error.empty()) << shown;
        EXPECT_EQ(error.find('\n'), std::string::npos) << shown;
    }
    // The errors that are made from the verbs' tables and operands.
    for (const auto& [args, expected] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"frob"},
              "unknown subcommand \"frob\" (tree, invoke, command, watch, cycles, ports "
              "or probe; see kvq-host --help)"},
             {{"tree", "x", "--seconds=1"}, "--seconds belongs to watch or cycles, not tree"},
             {{"ports", "--lines"}, "--lines belongs to probe, not ports"},
             {{"command", "x"}, "command needs PATH and CODE (see kvq-host command --help)"},
             {{"tree", "x", "y"}, "too many arguments for tree: \"y\" (see kvq-host tree --help)"},
             {{"ports", "y"}, "ports takes no arguments, not \"y\" (see kvq-host ports --help)"},
             {{"--count", "0", "tree"},
              "--count needs a number of cycles from 1 to 100000, not \"0\""}}) {
        Invocation o;
        std::string error;
        EXPECT_EQ(parse(args, o, error), Parsed::Error) << expected;
        EXPECT_EQ(error, expected);
    }
}

TEST(HostWatchCommands, ParsesEachCommandAndRejectsTheRestWithOneLine) {
    WatchCommand c;
    std::string error;
    using Kind = WatchCommand::Kind;
    ASSERT_TRUE(parseWatchCommand("invoke X10/House Code: A/Unit Code: 1/Power On ", c, error));
    EXPECT_EQ(c.kind, Kind::Invoke);
    EXPECT_EQ(c.names,
              (std::vector<std::string>{"X10", "House Code: A", "Unit Code: 1", "Power On"}));
    ASSERT_TRUE(parseWatchCommand("  command \"a b/c\\/d\" -1 0x10\r", c, error)) << error;
    EXPECT_EQ(c.kind, Kind::Command);
    EXPECT_EQ(c.names, (std::vector<std::string>{"a b", "c/d"}));
    EXPECT_EQ(c.code, UINT64_MAX);
    EXPECT_EQ(c.w1.value_or(0), 0x10u);
    ASSERT_TRUE(parseWatchCommand("command p 288", c, error));
    EXPECT_FALSE(c.w1.has_value());
    ASSERT_TRUE(parseWatchCommand("sleep 250", c, error));
    EXPECT_EQ(c.kind, Kind::Sleep);
    EXPECT_EQ(c.ms, 250u);
    for (const char* skipped : {"", "   ", "# invoke a"}) {
        ASSERT_TRUE(parseWatchCommand(skipped, c, error)) << skipped;
        EXPECT_EQ(c.kind, Kind::Skip) << skipped;
    }
    ASSERT_TRUE(parseWatchCommand("resources", c, error));
    EXPECT_EQ(c.kind, Kind::Resources);
    ASSERT_TRUE(parseWatchCommand("end", c, error));
    EXPECT_EQ(c.kind, Kind::End);

    for (const char* bad :
         {"frob", "invoke", "invoke a//b", "invoke \"a\" b", "invoke \"a", "command a b c",
          "command \"a b\" 1 2 3", "command a/b", "command a 1 -2", "sleep", "sleep -1",
          "sleep 1 2", "end now", "resources 1", "Invoke a"}) {
        EXPECT_FALSE(parseWatchCommand(bad, c, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
        EXPECT_EQ(error.find('\n'), std::string::npos) << bad;
    }
}

TEST(HostJson, EscapesEveryByteIntoValidJson) {
    EXPECT_EQ(jsonString("plain"), "\"plain\"");
    EXPECT_EQ(jsonString("a\"b\\c/d"), "\"a\\\"b\\\\c/d\"");
    EXPECT_EQ(jsonString("\n\r\t\b\f"), "\"\\n\\r\\t\\b\\f\"");
    EXPECT_EQ(jsonString(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
    EXPECT_EQ(jsonString(std::string("a\0b", 3)), "\"a\\u0000b\"");
    EXPECT_EQ(jsonString("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"),
              "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"")
        << "valid UTF-8 passes";
    EXPECT_EQ(jsonString("caf\xe9"), "\"caf\\u00e9\"") << "a Latin-1 byte";
    EXPECT_EQ(jsonString("\xc3"), "\"\\u00c3\"") << "a cut sequence";
    EXPECT_EQ(jsonString("\xc0\x80"), "\"\\u00c0\\u0080\"") << "overlong";
    EXPECT_EQ(jsonString("\xed\xa0\x80"), "\"\\u00ed\\u00a0\\u0080\"") << "a surrogate";
    EXPECT_EQ(jsonString("\xe2\x82"), "\"\\u00e2\\u0082\"");

    JsonObject j;
    j.text("s", "x").number("n", -5).boolean("b", true).null("z").texts("l", {"a", "\"b"});
    j.real("t", 1.5).real("bad", std::nan(""));
    EXPECT_EQ(j.str(), "{\"s\":\"x\",\"n\":-5,\"b\":true,\"z\":null,\"l\":[\"a\",\"\\\"b\"],"
                       "\"t\":1.500,\"bad\":null}");
}

int run(std::vector<std::string> args, std::string& out, std::string& err) {
    std::ostringstream o, e;
    int code = runTool(args, o, e);
    out = o.str();
    err = e.str();
    return code;
}

bool oneLine(const std::string& text) {
    return !text.empty() && text.find('\n') == text.size() - 1 && text.rfind("kvq-host: ", 0) == 0;
}

TEST(HostTool, ReportsLibrariesItCannotUseOnOneLine) {
    std::string out, err;
    EXPECT_EQ(run({"tree", "/nonexistent/plugin.so"}, out, err), 1);
    EXPECT_TRUE(oneLine(err)) << err;
    EXPECT_NE(err.find("/nonexistent/plugin.so"), std::string::npos);
    EXPECT_TRUE(out.empty());

    // A shared library that is not a plug-in.
    EXPECT_EQ(run({"tree", KVQ_BIN_DIR "/libkvqplatform.so"}, out, err), 1);
    EXPECT_TRUE(oneLine(err)) << err;
    EXPECT_NE(err.find("V_KVQ_ENTRY"), std::string::npos) << err;

    // A file that is no library at all.
    EXPECT_EQ(run({"invoke", KVQ_SOURCE_DIR "/CMakeLists.txt", "a"}, out, err), 1);
    EXPECT_TRUE(oneLine(err)) << err;

    EXPECT_EQ(run({"watch"}, out, err), 2);
    EXPECT_TRUE(oneLine(err)) << err;
    EXPECT_EQ(run({"tree", "--help"}, out, err), 0);
    EXPECT_NE(out.find("Usage: kvq-host tree"), std::string::npos);
    EXPECT_TRUE(err.empty());
}

// The usage block of tools/host/README.md is the one of --help; the switches
// for tests are under their own heading and in no usage line.
TEST(HostTool, HelpAndReadmeShowTheSameUsage) {
    std::ifstream file(KVQ_SOURCE_DIR "/tools/host/README.md");
    std::stringstream readme;
    readme << file.rdbuf();
    const std::string text = readme.str();
    const size_t start = text.find("```\n") + 4, end = text.find("```\n", start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(text.substr(start, end - start), synopsis());
    EXPECT_NE(helpText(nullptr).find(synopsis()), std::string::npos);

    const std::string watch = helpText(&watchVerb());
    const size_t tests = watch.find("\nFor tests:\n");
    ASSERT_NE(tests, std::string::npos);
    for (const char* flag : {"--destroy-fired", "--foreign-class"}) {
        EXPECT_GT(watch.find(flag), tests) << flag;
        EXPECT_EQ(synopsis().find(flag), std::string::npos) << flag;
    }
}

TEST(HostTool, ProgramExitsWithTheToolsCodes) {
    const std::string tool = KVQ_BIN_DIR "/kvq-host";
    {
        ChildProcess p({tool, "--help"});
        ASSERT_TRUE(p.started());
        EXPECT_FALSE(p.waitFor("Usage: kvq-host", 20000).empty());
        EXPECT_EQ(p.wait(20000), 0);
    }
    {
        ChildProcess p({tool, "tree", "missing-plugin.so"});
        ASSERT_TRUE(p.started());
        EXPECT_EQ(p.wait(20000), 1);
        std::string err = p.errorText();
        EXPECT_TRUE(oneLine(err)) << err;
    }
    {
        ChildProcess p({tool, "command", "x.so", "p", "nope"});
        ASSERT_TRUE(p.started());
        EXPECT_EQ(p.wait(20000), 2);
        EXPECT_TRUE(oneLine(p.errorText())) << "usage errors are one line too";
    }
}

} // namespace
