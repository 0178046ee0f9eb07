// The real DLLs under Wine: kvq-host.exe loads Quillport.dll and KV-X10.dll in
// a 32-bit prefix. COM1, COM3 and COM4 are mapped once, through Wine's Ports
// key, to links that each test points at its own pseudo-terminal (cm11a-sim's
// for COM1, or for COM4 where KV-X10.ini names it); the modem-line fixture is
// preloaded into Wine, since a pseudo-terminal has no modem lines of its own.
//
// Wine runs 32-bit programs only where the kernel does: on a kernel without
// IA-32 emulation, CTest runs this program inside the emulated 32-bit guest
// (scripts/vm), and run directly there it skips with that reason.
#include "fixtures/hostRun.h"
#include "fixtures/modemlines/modemLines.h"
#include "fixtures/simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kWin32Bin = KVQ_WIN32_BIN;
const std::string kA1On = "X10/House Code: A/Unit Code: 1/Power On";

bool underUserModeEmulation() {
    std::ifstream state("/proc/sys/fs/binfmt_misc/kvq-i386");
    std::string first;
    return state && std::getline(state, first) && first == "enabled";
}

std::string prefix() {
    const char* given = std::getenv("WINEPREFIX");
    return given && *given ? given : std::string(KVQ_BIN_DIR) + "/../wineprefix";
}

// Where COM1 and COM3 lead: links that the tests point at their devices.
std::string portLink(const char* port) {
    return std::string(::testing::TempDir()) + "kvq-wine-" + std::to_string(getpid()) + "-" + port;
}

void pointPort(const char* port, const std::string& device) {
    std::string link = portLink(port);
    std::string tmp = link + ".new";
    unlink(tmp.c_str());
    ASSERT_EQ(symlink(device.c_str(), tmp.c_str()), 0) << tmp;
    ASSERT_EQ(rename(tmp.c_str(), link.c_str()), 0) << link;
}

// The file that tells the modem-line fixture which device counts as held by
// another program (read by Wine's server, which opens devices for its clients).
std::string busyFile() {
    return std::string(::testing::TempDir()) + "kvq-wine-" + std::to_string(getpid()) + "-busy";
}

bool markBusy(const std::string& device) {
    std::ofstream file(busyFile());
    file << device << '\n';
    return static_cast<bool>(file);
}

ChildProcess::Env wineEnv(ChildProcess::Env extra = {}) {
    extra.insert(extra.end(), {{"WINEPREFIX", prefix()},
                               {"WINEDEBUG", "-all"},
                               {"WINEARCH", "win32"},
                               {"KVQ_MODEMLINES_BUSY_FILE", busyFile()},
                               {"LD_PRELOAD", ModemLines::ldPreload(false)}});
    return extra;
}

// Runs a Wine command to its end; its exit code, or ChildProcess::kRunning.
int run(std::vector<std::string> args, int timeoutMs = 180000) {
    ChildProcess child(args, wineEnv());
    return child.started() ? child.wait(timeoutMs) : -1;
}

std::unique_ptr<HostRun> host(std::vector<std::string> args, ChildProcess::Env env = {}) {
    return std::make_unique<HostRun>(args, wineEnv(env),
                                     std::vector<std::string>{"wine", kWin32Bin + "/kvq-host.exe"});
}

std::unique_ptr<HostRun> watch(const std::string& dll, std::vector<std::string> extra = {},
                               ChildProcess::Env env = {}) {
    std::vector<std::string> args{"watch", kWin32Bin + "/" + dll, "--seconds", "300"};
    args.insert(args.end(), extra.begin(), extra.end());
    auto h = host(args, env);
    EXPECT_EQ(h->waitFor("watching", 120000), "watching");
    return h;
}

// What the process held: "resources threads T handles H windows W privateKiB P".
struct Held {
    int threads = -1, handles = -1, windows = -1;
};
Held resources(HostRun& host) {
    host.child().write("resources\n");
    Held held;
    std::string line = host.waitFor("resources", 60000);
    std::sscanf(line.c_str(), "resources threads %d handles %d windows %d", &held.threads,
                &held.handles, &held.windows);
    return held;
}

// The most of five readings 300 ms apart. A steady KV-X10 holds Wine's own
// helper thread of its pending event wait, which a reading may catch ended,
// or ending beside the next one: a leak per outage shows well above either.
Held settled(HostRun& host) {
    Held most = resources(host);
    for (int reading = 1; reading < 5; ++reading) {
        host.child().write("sleep 300\n");
        Held now = resources(host);
        most.threads = std::max(most.threads, now.threads);
        most.handles = std::max(most.handles, now.handles);
        most.windows = std::max(most.windows, now.windows);
    }
    return most;
}

// No thread, handle or window more than at `warm`. Wine's own helper thread
// of an event wait that has just ended may still be on its way out, so the
// reading is repeated for a while: what was left behind never goes.
void expectSteady(HostRun& host, const Held& warm) {
    Held now;
    for (int reading = 0; reading < 20; ++reading) {
        now = resources(host);
        if (now.threads <= warm.threads && now.handles <= warm.handles &&
            now.windows <= warm.windows)
            break;
        host.child().write("sleep 500\n");
    }
    EXPECT_LE(now.threads, warm.threads);
    EXPECT_LE(now.handles, warm.handles);
    EXPECT_LE(now.windows, warm.windows);
}

// The Windows that Wine reports to kvq-host.exe (KVQ_WINE_VERSION: winxp, win7
// or win10, the default), and the version a plug-in must see under it. From
// Windows 8.1 on, GetVersionEx reports 6.2 to a program whose manifest does not
// name a later Windows, as hosts' manifests do not: so does Wine.
std::string wineVersion() {
    const char* v = std::getenv("KVQ_WINE_VERSION");
    return v != nullptr && *v != '\0' ? v : "win10";
}
std::string versionSeen() {
    const std::string v = wineVersion();
    return v == "winxp" ? "5.1" : v == "win7" ? "6.1" : "6.2";
}

// What a plug-in told a debugger of the system, shown in the test's output and
// checked against the version Wine reports: the NT family, the version, and
// message-only windows, which every NT from 5 on has.
void expectSystemSeen(HostRun& host) {
    int windowLines = 0;
    for (const std::string& e : host.events()) {
        if (e.rfind("debug ", 0) != 0) continue;
        std::printf("  Wine as %s: %s\n", wineVersion().c_str(), e.c_str() + 6);
        if (e.find(" windows") == std::string::npos) continue;
        ++windowLines;
        EXPECT_NE(e.find("Windows platform 2, version " + versionSeen() + ": message-only windows"),
                  std::string::npos)
            << e;
    }
    EXPECT_EQ(windowLines, 1);
}

// Error reports so far.
int errors(HostRun& host) {
    return host.count("error ");
}

// Wine opens a COM port whose device is missing all the same (a device object
// of its own stands for it) and fails every call on it afterwards, where
// Windows fails the open: an absent port is told as either.
bool toldAbsent(HostRun& host, const std::string& openText, const std::string& deviceText) {
    return host.count("error -3 " + openText) + host.count("error -4 " + deviceText) == 1;
}

// cm11a-sim at COM1's link; its `hold` marks the device busy for Wine's server.
struct WineSimulator : Simulator {
    WineSimulator()
        : Simulator({"--link", portLink("com1")}, {{"KVQ_MODEMLINES_BUSY_FILE", busyFile()}}, 200) {
    }
};

class Wine : public ::testing::Test {
public:
    // Once per run: the ports mapped, and a server kept running so that each
    // program starts in about a second instead of ten.
    static void SetUpTestSuite() {
        if (underUserModeEmulation()) return;
        ModemLines::use(std::string(::testing::TempDir()) + "kvq-wine-lines-" +
                        std::to_string(getpid()));
        ModemLines::reset();
        auto step = [](const std::vector<std::string>& args, int timeoutMs) {
            int code = run(args, timeoutMs);
            if (code != 0 && setupError_.empty()) {
                setupError_ = "exit code " + std::to_string(code) + " of";
                for (const std::string& a : args)
                    setupError_ += " " + a;
            }
        };
        // One registry import for the ports and the version: each Wine program
        // takes seconds to start in the emulated guest.
        const std::string file =
            std::string(::testing::TempDir()) + "kvq-wine-" + std::to_string(getpid()) + ".reg";
        {
            std::ofstream reg(file);
            reg << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n";
            for (const char* port : {"com1", "com3", "com4"}) {
                std::string upper = port;
                for (char& c : upper)
                    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                reg << "\"" << upper << "\"=\"" << portLink(port) << "\"\n";
            }
            reg << "\n[" << kAppDefaultsKey << "]\n\"Version\"=\"" << wineVersion() << "\"\n";
        }
        step({"wine", "regedit", "/S", file}, 300000);
        unlink(file.c_str());
        step({"wineserver", "-w"}, 60000);
        step({"wineserver", "-p"}, 60000);
    }
    static void TearDownTestSuite() {
        if (underUserModeEmulation()) return;
        run({"wine", "reg", "delete", kAppDefaults, "/v", "Version", "/f"}, 300000);
        run({"wineserver", "-k"}, 60000);
    }
    // Wine's version setting for kvq-host.exe alone: other programs of the
    // prefix keep Wine's default.
    static constexpr const char* kAppDefaults = "HKCU\\Software\\Wine\\AppDefaults\\kvq-host.exe";
    static constexpr const char* kAppDefaultsKey =
        "HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\kvq-host.exe";

protected:
    void SetUp() override {
        if (underUserModeEmulation())
            GTEST_SKIP() << "this kernel runs 32-bit programs only under qemu-i386 user "
                            "emulation, where Wine cannot start (scripts/vm runs this in a guest)";
        struct stat st {};
        ASSERT_EQ(stat((kWin32Bin + "/kvq-host.exe").c_str(), &st), 0)
            << "build the win32 preset first";
        ASSERT_EQ(setupError_, "") << "mapping COM1, COM3 and COM4 in the Wine prefix " << prefix();
        ModemLines::reset();
        pointPort("com3", "/nonexistent/com3");
    }

    static std::string setupError_;
};
std::string Wine::setupError_;

} // namespace

TEST_F(Wine, QuillportButtonsFollowTheLinesOfCom3) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    pointPort("com3", pty.slavePath());
    ModemLines::set(true, false, false, false); // CTS active before the plug-in starts
    // A class named like the plug-in's window, with another procedure, registered
    // first: the plug-in registers its own, or no line change would reach a button.
    auto q = watch("Quillport.dll", {"--foreign-class", "Quillport"});
    expectSystemSeen(*q);
    // Wine has CreateWaitableTimerExW whatever version it reports, and takes the flag.
    EXPECT_EQ(q->count("debug Quillport: the poll is paced by a high-resolution waitable timer"),
              1);
    EXPECT_EQ(q->count("announce Quillport/Button"), 4);
    EXPECT_NE(q->waitFor("fired Quillport/Button 1 (CTS)", 20000), "") << "line active at start";

    struct Line {
        const char* button;
        bool cts, dsr, ring, cd;
    };
    // Button 3 follows carrier detect, button 4 the ring indicator.
    for (const Line& l : {Line{"Button 2 (DSR)", false, true, false, false},
                          Line{"Button 3 (RLSD)", false, false, false, true},
                          Line{"Button 4 (RING)", false, false, true, false}}) {
        q->clearEvents();
        ModemLines::set(true, l.dsr, l.ring, l.cd);
        EXPECT_NE(q->waitFor(std::string("fired Quillport/") + l.button, 20000), "") << l.button;
        ModemLines::set(true, false, false, false);
        EXPECT_NE(q->waitFor(std::string("activeChanged Quillport/") + l.button + " 0", 20000), "")
            << l.button;
        EXPECT_EQ(q->count("fired"), 1) << l.button;
    }
    q->clearEvents();
    ModemLines::set(false, false, false, false);
    EXPECT_NE(q->waitFor("activeChanged Quillport/Button 1 (CTS) 0", 20000), "");

    // Two lines at once: both buttons, in button order.
    q->clearEvents();
    ModemLines::set(true, true, false, false);
    EXPECT_NE(q->waitFor("fired Quillport/Button 2 (DSR)", 20000), "");
    std::vector<std::string> fired;
    for (const std::string& e : q->events())
        if (e.rfind("fired", 0) == 0) fired.push_back(e);
    EXPECT_EQ(fired, (std::vector<std::string>{"fired Quillport/Button 1 (CTS)",
                                               "fired Quillport/Button 2 (DSR)"}));
    EXPECT_EQ(q->finish(), 0);
}

TEST_F(Wine, QuillportWithoutCom3KeepsItsButtons) {
    ModemLines::set(true, true, true, true);
    auto q = watch("Quillport.dll");
    EXPECT_EQ(q->count("announce Quillport/Button"), 4);
    // The plug-in has tried COM3 once it says so; it fired nothing by then.
    if (errors(*q) == 0) q->waitFor("error", 30000);
    EXPECT_TRUE(toldAbsent(*q, "vStatusLineNode:openComPort()", "vStatusLineNode:run()"));
    EXPECT_EQ(q->finish(), 0);
    EXPECT_EQ(q->count("fired"), 0);
    EXPECT_EQ(q->count("unload"), 1);
}

TEST_F(Wine, KvX10SwitchesModulesFiresEventsAndSetsTheClock) {
    WineSimulator sim;
    ASSERT_TRUE(sim.ok());
    // A1 byte for byte; G1, whose address checksum would read as a poll; M10,
    // whose address bytes hold the flow-control character XOFF.
    // A "vTimer" class with another procedure registered first: the port's timer
    // fires all the same, or no report would reach the host.
    auto x10 =
        watch("KV-X10.dll",
              {"--invoke", kA1On, "--invoke", "X10/House Code: G/Unit Code: 1/Power On", "--invoke",
               "X10/House Code: M/Unit Code: 10/Power Off", "--foreign-class", "vTimer"});
    expectSystemSeen(*x10);
    for (const char* step : {"rx 04 66", "tx 6a", "rx 00", "tx 55", "rx 06 62", "tx 68", "rx 00",
                             "tx 55", "A1 ON put on the power line"})
        EXPECT_NE(sim.child->waitFor(step, 30000), "") << step;
    EXPECT_NE(sim.child->waitFor("G1 ON put on the power line", 30000), "");
    EXPECT_NE(sim.child->waitFor("M10 OFF put on the power line", 30000), "");

    sim.child->write("report A1 A-OFF\n");
    EXPECT_NE(x10->waitFor("fired KV-X10/House Code: A/Unit Code: 1/Powered Off", 30000), "");
    x10->clearEvents();
    sim.child->write("report C5 C6 C-ON\n"); // nearest address first
    EXPECT_NE(x10->waitFor("fired KV-X10/House Code: C/Unit Code: 5/Powered On", 30000), "");
    EXPECT_EQ(x10->count("fired KV-X10/House Code: C/Unit Code: 6/Powered On"), 1);

    sim.child->write("clock\n");
    EXPECT_NE(sim.child->waitFor("clock answer", 30000).find("valid, matches local time"),
              std::string::npos);
    EXPECT_EQ(x10->finish(), 0);

    // After a command the host's thread is free again at once: the bytes the
    // command read are no new input for a half-second read on a silent line,
    // which would hold the loop for 490 ms at least after every command, however
    // fast the machine. A busy machine may hold it that long once, not thrice.
    auto quick = watch("KV-X10.dll", {"--commands"});
    std::vector<double> holds;
    for (int command = 0; command < 3; ++command) {
        quick->child().write("loop\ninvoke " + kA1On + "\nsleep 1500\nloop\n");
        quick->waitFor("loop", 60000);
        holds.push_back(std::atof(quick->waitFor("loop", 60000).c_str() + 5));
    }
    EXPECT_EQ(quick->count("result"), 3);
    EXPECT_LT(*std::min_element(holds.begin(), holds.end()), 490)
        << "ms the message loop was held after each command";
    EXPECT_EQ(quick->finish(), 0);
}

TEST_F(Wine, KvX10FaultsLeaveTheHostRunning) {
    WineSimulator sim;
    ASSERT_TRUE(sim.ok());
    // A silent controller: the command gives up and returns; nothing is switched.
    sim.child->write("silent on\n");
    auto first = watch("KV-X10.dll", {"--invoke", kA1On});
    EXPECT_NE(first->waitFor("result", 60000), "");
    sim.child->write("silent off\n");
    sim.child->write("report B2 B-ON\n");
    EXPECT_NE(first->waitFor("fired KV-X10/House Code: B/Unit Code: 2/Powered On", 30000), "")
        << "the port still works after the silence";

    // COM1 held by another program: the second host's plug-in cannot open it and
    // its command reaches nothing; the first keeps the controller. Wine does not
    // refuse a second open of a device between its processes as Windows does,
    // so the fixture refuses it, as Linux does for a terminal held exclusively.
    ASSERT_TRUE(markBusy(sim.device));
    auto second = watch("KV-X10.dll", {"--invoke", "X10/House Code: P/Unit Code: 16/Power On"});
    EXPECT_NE(second->waitFor("result", 60000), "");
    EXPECT_EQ(second->finish(), 0);
    markBusy("");
    sim.child->write("report D3 D-OFF\n");
    EXPECT_NE(first->waitFor("fired KV-X10/House Code: D/Unit Code: 3/Powered Off", 30000), "");
    EXPECT_EQ(first->finish(), 0);
    sim.child->write("status\n");
    EXPECT_NE(sim.child->waitFor("status: no module switched", 5000), "");
    if (HasFailure())
        for (const std::string& l : sim.child->lines())
            std::printf("  cm11a-sim: %s\n", l.c_str());
}

// KV-X10.ini beside a copy of the DLL names COM4, which the plug-in opens as
// \\.\COM4; COM1 leads nowhere, so a plug-in that opened it would say so.
TEST_F(Wine, KvX10UsesThePortItsIniNames) {
    pointPort("com1", "/nonexistent/com1");
    Simulator sim({"--link", portLink("com4")}, {{"KVQ_MODEMLINES_BUSY_FILE", busyFile()}}, 200);
    ASSERT_TRUE(sim.ok());
    PluginCopy copy(kWin32Bin + "/KV-X10.dll", "KV-X10.ini", "[Port]\r\nName=COM4\r\n");
    ASSERT_TRUE(copy.ok());
    auto x10 = host({"watch", copy.path(), "--seconds", "300", "--invoke", kA1On});
    ASSERT_EQ(x10->waitFor("watching", 120000), "watching");
    EXPECT_NE(sim.child->waitFor("A1 ON put on the power line", 30000), "");
    EXPECT_EQ(x10->finish(), 0);
    EXPECT_EQ(x10->count("error"), 0);
}

// kvq-host.exe ports lists the ports mapped in Wine's Ports key, and probe
// finds the controller on COM1 by its status answer alone.
TEST_F(Wine, ProbeFindsTheControllerOnItsMappedPort) {
    WineSimulator sim;
    ASSERT_TRUE(sim.ok());
    const std::string tool = kWin32Bin + "/kvq-host.exe";
    ChildProcess ports({"wine", tool, "ports"}, wineEnv());
    EXPECT_NE(ports.waitFor("COM1 (", 120000).find("): free"), std::string::npos);
    EXPECT_NE(ports.waitFor("COM3 (", 60000).find("): absent"), std::string::npos);
    EXPECT_EQ(ports.wait(60000), 0);

    ChildProcess probe({"wine", tool, "probe", "COM1", "COM3", "--lines", "--wait", "5000"},
                       wineEnv());
    std::string found = probe.waitFor("COM1 (", 120000);
    EXPECT_NE(found.find("): controller, firmware 1, clock "), std::string::npos) << found;
    EXPECT_NE(found.find("lines CTS off, DSR off, RLSD off, RING off"), std::string::npos) << found;
    EXPECT_NE(probe.waitFor("COM3 (", 60000).find("no device"), std::string::npos);
    EXPECT_EQ(probe.wait(60000), 0);
    ASSERT_TRUE(sim.command("status"));
    EXPECT_EQ(sim.logged("status: 0 protocol errors"), 1);
    int received = 0;
    for (const std::string& l : sim.child->lines())
        received += l.rfind("rx ", 0) == 0;
    EXPECT_EQ(received, 1) << "the status request alone";
    EXPECT_EQ(sim.logged("rx 8b status request"), 1);

    ASSERT_TRUE(markBusy(sim.device));
    ChildProcess held({"wine", tool, "probe", "COM1"}, wineEnv());
    const std::string heldLine = held.waitFor("COM1 (", 120000);
    EXPECT_NE(heldLine.find("): held by another program"), std::string::npos) << heldLine;
    EXPECT_EQ(held.wait(60000), 1) << "no controller found";
    markBusy("");
}

// The controller's port taken away and given back in every way the field
// knows: absent at build, pulled out and plugged back (20 times, with the
// process's threads and handles read after two and after twenty), a
// controller without power, and the port held by another program. Each outage
// is told once; after each, reports fire without a command and commands go out.
TEST_F(Wine, KvX10ComesBackFromEveryOutageAndTellsTheHostOnceEach) {
    WineSimulator sim;
    ASSERT_TRUE(sim.ok());
    ASSERT_TRUE(sim.command("unplug 0"));
    auto x10 = watch("KV-X10.dll", {"--commands"});
    if (errors(*x10) == 0) x10->waitFor("error", 10000);
    EXPECT_TRUE(toldAbsent(*x10, "vX10Port:open()", "vX10Port:onDeviceFailed()"));
    ASSERT_TRUE(sim.command("plug"));
    ASSERT_TRUE(sim.command("report A1 A-ON"));
    EXPECT_NE(x10->waitFor("fired KV-X10/House Code: A/Unit Code: 1/Powered On", 30000), "");

    Held warm;
    for (int outage = 1; outage <= 20; ++outage) {
        if (outage == 3) warm = settled(*x10);
        ASSERT_TRUE(sim.command("unplug 0.5"));
        EXPECT_EQ(x10->waitFor("error", 30000), "error -4 vX10Port:onDeviceFailed()") << outage;
        ASSERT_TRUE(sim.command("report C" + std::to_string(outage % 16 + 1) + " C-ON"));
        EXPECT_NE(x10->waitFor("fired KV-X10/House Code: C/Unit Code: " +
                                   std::to_string(outage % 16 + 1) + "/Powered On",
                               30000),
                  "")
            << outage;
    }
    expectSteady(*x10, warm);
    x10->child().write("invoke " + kA1On + "\n");
    EXPECT_NE(sim.child->waitFor("A1 ON put on the power line", 30000), "");
    EXPECT_NE(x10->waitFor("result", 30000), "");
    EXPECT_EQ(errors(*x10), 21);

    // Without power: ten attempts once, then one per command until heard again.
    ASSERT_TRUE(sim.command("silent on"));
    for (int attempts : {10, 1}) {
        const int before = sim.logged("04 66");
        x10->child().write("invoke " + kA1On + "\n");
        EXPECT_NE(x10->waitFor("result", 60000), "");
        EXPECT_EQ(sim.logged("04 66") - before, attempts);
    }
    ASSERT_TRUE(sim.command("silent off"));
    ASSERT_TRUE(sim.command("report B2 B-OFF"));
    EXPECT_NE(x10->waitFor("fired KV-X10/House Code: B/Unit Code: 2/Powered Off", 30000), "");
    EXPECT_EQ(x10->count("error -5 vX10Port:transact()"), 1);
    EXPECT_EQ(errors(*x10), 22);
    EXPECT_EQ(x10->finish(), 0);

    // Held by another program when the plug-in builds, then released.
    ASSERT_TRUE(sim.command("hold 0"));
    auto held = watch("KV-X10.dll");
    EXPECT_EQ(held->count("error -3 vX10Port:open()"), 1);
    ASSERT_TRUE(sim.command("release"));
    ASSERT_TRUE(sim.command("report D4 D-ON"));
    EXPECT_NE(held->waitFor("fired KV-X10/House Code: D/Unit Code: 4/Powered On", 30000), "");
    EXPECT_EQ(held->finish(), 0);
    EXPECT_EQ(errors(*held), 1);
    sim.command("status");
    EXPECT_NE(sim.child->waitFor("status: 0 protocol errors, 0 duplicate frames", 10000), "");
}

// COM3 absent at build, its status unreadable 20 times (an adapter pulled out;
// the lines change meanwhile), and held by another program: each outage told
// once, and the buttons take their lines' states again after each.
TEST_F(Wine, QuillportComesBackFromEveryOutageAndTellsTheHostOnceEach) {
    ModemLines::set(true, false, false, false);
    auto q = watch("Quillport.dll", {"--commands"});
    if (errors(*q) == 0) q->waitFor("error", 10000);
    EXPECT_TRUE(toldAbsent(*q, "vStatusLineNode:openComPort()", "vStatusLineNode:run()"));
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    pointPort("com3", pty.slavePath());
    EXPECT_NE(q->waitFor("fired Quillport/Button 1 (CTS)", 30000), "");

    Held warm;
    for (int outage = 1; outage <= 20; ++outage) {
        if (outage == 3) warm = settled(*q);
        ModemLines::failStatusReads(true);
        EXPECT_EQ(q->waitFor("error", 30000), "error -4 vStatusLineNode:run()") << outage;
        const bool dsr = outage % 2 == 1; // changes while unreadable
        ModemLines::set(true, dsr, false, false);
        ModemLines::failStatusReads(false);
        EXPECT_NE(q->waitFor(dsr ? "fired Quillport/Button 2 (DSR)"
                                 : "activeChanged Quillport/Button 2 (DSR) 0",
                             30000),
                  "")
            << outage;
    }
    expectSteady(*q, warm);
    EXPECT_EQ(errors(*q), 21);
    EXPECT_EQ(q->count("fired Quillport/Button 1 (CTS)"), 1) << "CTS stayed active";
    EXPECT_EQ(q->finish(), 0);

    ASSERT_TRUE(markBusy(pty.slavePath()));
    auto held = watch("Quillport.dll");
    EXPECT_EQ(held->count("error -3 vStatusLineNode:openComPort()"), 1);
    markBusy("");
    EXPECT_NE(held->waitFor("fired Quillport/Button 1 (CTS)", 30000), "");
    EXPECT_EQ(held->finish(), 0);
    EXPECT_EQ(errors(*held), 1);
}

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
