// kvq-host.exe loading and unloading each DLL again and again under Wine.
#include "wine/wineFixture.h"

#include <cstdio>
#include <cstdlib>
#include <map>

using namespace winetest;

namespace {

// kvq-host.exe's cycles: load, attach, build, traffic, detach, unload again and
// again in one process (20 times each), with the process's
// handles, threads, windows and timers read through the Windows API before and
// after, and the time of each detach.
struct CycleReport {
    std::map<std::string, int> left;
    double longestDetachMs = 0;
    int fired = 0;
    bool loadedMore = true; // every loaded reading above the baseline's
    bool ended = false;
};

CycleReport cycles(const std::string& dll, std::vector<std::string> extra,
                   ChildProcess* sim = nullptr, int count = 20) {
    std::vector<std::string> args{
        "wine",    kWin32Bin + "/kvq-host.exe", "cycles", kWin32Bin + "/" + dll,
        "--count", std::to_string(count),       "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    ChildProcess child(args, wineEnv());
    CycleReport r;
    int baseThreads = 0, baseWindows = 0;
    std::string line;
    while (child.readLine(line, 180000)) {
        auto number = [&line](const std::string& name) {
            std::string value = HostRun::field(line, name);
            return value.empty() ? -1000 : std::atoi(value.c_str());
        };
        const std::string event = HostRun::field(line, "event");
        if (event == "cycle") {
            if (number("cycle") == 0) {
                baseThreads = number("threads");
                baseWindows = number("windows");
                continue;
            }
            // Traffic from the power line all along: a report polls until answered.
            if (sim) sim->write("report C7 C-ON\n");
            r.fired += number("fired");
            r.loadedMore &=
                number("loadedThreads") > baseThreads && number("loadedWindows") > baseWindows;
        } else if (event == "left") {
            for (const char* name : {"handles", "threads", "windows", "timers", "classes"})
                r.left[name] = number(name);
            r.longestDetachMs = std::atof(HostRun::field(line, "longestDetachMs").c_str());
            r.ended = true;
        }
    }
    child.wait(60000);
    return r;
}

} // namespace

TEST_F(Wine, LoadToUnloadCyclesLeaveNothingBehind) {
    // What a plug-in built by this tool chain leaves at every unload whatever
    // it does (the compiler runtime's unwinder registration keeps one
    // semaphore): the sample plug-in, which opens nothing, shows it.
    CycleReport reference = cycles("sample-plugin.dll", {"--seconds", "0"});
    ASSERT_TRUE(reference.ended);
    const int runtime = reference.left["handles"];
    EXPECT_LE(runtime, 20) << "at most one handle per unload";

    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    pointPort("com3", pty.slavePath());
    ModemLines::set(true, false, false, false); // every cycle's first reading fires CTS
    CycleReport q = cycles("Quillport.dll", {"--seconds", "0.3", "--class", "Quillport"});
    ASSERT_TRUE(q.ended);
    EXPECT_EQ(q.fired, 20);
    EXPECT_TRUE(q.loadedMore) << "a loaded Quillport shows its poll thread and window";

    // KV-X10 with the controller polling all along. A detach ends the watcher
    // before it closes the device; one whose watcher did not end would take the
    // 2 s of the worker's first stop wait at least, however busy the machine.
    WineSimulator sim;
    ASSERT_TRUE(sim.ok());
    CycleReport x =
        cycles("KV-X10.dll", {"--seconds", "0.1", "--invoke", kA1On, "--class", "vTimer"},
               sim.child.get());
    ASSERT_TRUE(x.ended);
    EXPECT_GE(x.fired, 1) << "the reports reached the cycles";
    EXPECT_TRUE(x.loadedMore) << "a loaded KV-X10 shows its watcher and its timer window";
    EXPECT_LT(x.longestDetachMs, 2000);
    std::printf("  KV-X10: longest detach %.1f ms in 20 cycles\n", x.longestDetachMs);

    for (CycleReport* r : {&q, &x}) {
        EXPECT_EQ(r->left["handles"], runtime);
        EXPECT_EQ(r->left["threads"], 0);
        EXPECT_EQ(r->left["windows"], 0);
        EXPECT_EQ(r->left["timers"], 0);
        // The system keeps a class when its library is unloaded, with a window
        // procedure in code that is gone: a later load that found it would call there.
        EXPECT_EQ(r->left["classes"], 0);
    }
}
