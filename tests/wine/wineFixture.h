// The Wine tests' shared ground: kvq-host.exe loads Quillport.dll and KV-X10.dll
// in a 32-bit prefix. COM1, COM3, COM4 and COM12 are mapped once, through Wine's
// Ports key, to links that each test points at its own pseudo-terminal
// (cm11a-sim's for COM1, or for COM4 and COM12 where KV-X10.ini names them);
// the modem-line fixture is
// preloaded into Wine, since a pseudo-terminal has no modem lines of its own.
// The tests go by plug-in: quillport_test.cpp, x10_test.cpp, and cycles_test.cpp
// for every DLL's load-to-unload cycles.
//
// Wine runs 32-bit programs only where the kernel does: on a kernel without
// IA-32 emulation, CTest runs this program inside the emulated 32-bit guest
// (scripts/vm), and run directly there it skips with that reason.
#pragma once

#include "fixtures/hostRun.h"
#include "fixtures/modemlines/modemLines.h"
#include "fixtures/simulator.h"
#include "fixtures/userEmulation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace winetest {

inline const std::string kWin32Bin = KVQ_WIN32_BIN;
inline const std::string kA1On = "X10/House Code: A/Unit Code: 1/Power On";

inline std::string prefix() {
    const char* given = std::getenv("WINEPREFIX");
    return given && *given ? given : std::string(KVQ_BIN_DIR) + "/../wineprefix";
}

// Where COM1 and COM3 lead: links that the tests point at their devices.
inline std::string portLink(const char* port) {
    return std::string(::testing::TempDir()) + "kvq-wine-" + std::to_string(getpid()) + "-" + port;
}

inline void pointPort(const char* port, const std::string& device) {
    std::string link = portLink(port);
    std::string tmp = link + ".new";
    unlink(tmp.c_str());
    ASSERT_EQ(symlink(device.c_str(), tmp.c_str()), 0) << tmp;
    ASSERT_EQ(rename(tmp.c_str(), link.c_str()), 0) << link;
}

// The file that tells the modem-line fixture which device counts as held by
// another program (read by Wine's server, which opens devices for its clients).
inline std::string busyFile() {
    return std::string(::testing::TempDir()) + "kvq-wine-" + std::to_string(getpid()) + "-busy";
}

inline bool markBusy(const std::string& device) {
    std::ofstream file(busyFile());
    file << device << '\n';
    return static_cast<bool>(file);
}

inline ChildProcess::Env wineEnv(ChildProcess::Env extra = {}) {
    extra.insert(extra.end(), {{"WINEPREFIX", prefix()},
                               {"WINEDEBUG", "-all"},
                               {"WINEARCH", "win32"},
                               {"KVQ_MODEMLINES_BUSY_FILE", busyFile()},
                               {"LD_PRELOAD", ModemLines::ldPreload(false)}});
    return extra;
}

// Runs a Wine command to its end; its exit code, or ChildProcess::kRunning.
inline int run(std::vector<std::string> args, int timeoutMs = 180000) {
    ChildProcess child(args, wineEnv());
    return child.started() ? child.wait(timeoutMs) : -1;
}

inline std::unique_ptr<HostRun> host(std::vector<std::string> args, ChildProcess::Env env = {}) {
    return std::make_unique<HostRun>(args, wineEnv(env),
                                     std::vector<std::string>{"wine", kWin32Bin + "/kvq-host.exe"});
}

// A copy of kvq-host.exe run in `folder`, for a DLL there named bare: its
// own ANSI command line could not name a folder named outside the ANSI code
// page, and Wine's loader looks for ".\\KV-X10.dll" in the program's folder
// first. The copy is left there, for the folder's owner to remove.
inline std::unique_ptr<HostRun> hostIn(const std::string& folder, std::vector<std::string> args) {
    {
        std::ifstream in(kWin32Bin + "/kvq-host.exe", std::ios::binary);
        std::ofstream out(folder + "/kvq-host.exe", std::ios::binary);
        out << in.rdbuf();
        EXPECT_TRUE(in && out) << folder;
    }
    return std::make_unique<HostRun>(
        args, wineEnv(), std::vector<std::string>{"env", "-C", folder, "wine", "./kvq-host.exe"});
}

inline std::unique_ptr<HostRun> watch(const std::string& dll, std::vector<std::string> extra = {},
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
inline Held resources(HostRun& host) {
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
inline Held settled(HostRun& host) {
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
inline void expectSteady(HostRun& host, const Held& warm) {
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
inline std::string wineVersion() {
    const char* v = std::getenv("KVQ_WINE_VERSION");
    return v != nullptr && *v != '\0' ? v : "win10";
}
inline std::string versionSeen() {
    const std::string v = wineVersion();
    return v == "winxp" ? "5.1" : v == "win7" ? "6.1" : "6.2";
}

// What a plug-in told a debugger of the system, shown in the test's output and
// checked against the version Wine reports: the NT family, the version, and
// message-only windows, which every NT from 5 on has.
inline void expectSystemSeen(HostRun& host) {
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
inline int errors(HostRun& host) {
    return host.count("error ");
}

// Wine opens a COM port whose device is missing all the same (a device object
// of its own stands for it) and fails every call on it afterwards, where
// Windows fails the open: an absent port is told as either.
inline bool toldAbsent(HostRun& host, const std::string& openText, const std::string& deviceText) {
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
            for (const char* port : {"com1", "com3", "com4", "com12"}) {
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
        ASSERT_EQ(setupError_, "")
            << "mapping COM1, COM3, COM4 and COM12 in the Wine prefix " << prefix();
        ModemLines::reset();
        pointPort("com3", "/nonexistent/com3");
    }

    inline static std::string setupError_;
};

} // namespace winetest
