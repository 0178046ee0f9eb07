// The real DLLs under Wine: kvq-host.exe loads Quillport.dll and KV-X10.dll in
// a private 32-bit prefix, with COM3 and COM1 mapped to pseudo-terminals
// through Wine's Ports key and the modem-line fixture preloaded.
//
// Where 32-bit programs only run under user-mode emulation (a kernel without
// IA-32 emulation; scripts/setup-i386-run then registers qemu-i386), Wine does
// not start at all, so these tests are skipped there with that reason.
#include "fixtures/hostRun.h"
#include "fixtures/modemlines/modemLines.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

namespace {

const std::string kWin32Bin = KVQ_WIN32_BIN;
const std::string kPrefix = std::string(KVQ_BIN_DIR) + "/../wineprefix";

bool underUserModeEmulation() {
    std::ifstream state("/proc/sys/fs/binfmt_misc/kvq-i386");
    std::string first;
    return state && std::getline(state, first) && first == "enabled";
}

ChildProcess::Env wineEnv(ChildProcess::Env extra = {}) {
    extra.push_back({"WINEPREFIX", kPrefix});
    extra.push_back({"WINEDEBUG", "-all"});
    extra.push_back({"WINEARCH", "win32"});
    return extra;
}

// Runs a Wine command to its end; its exit code, or ChildProcess::kRunning.
int wine(std::vector<std::string> args, int timeoutMs = 180000) {
    args.insert(args.begin(), "wine");
    ChildProcess child(args, wineEnv());
    return child.started() ? child.wait(timeoutMs) : -1;
}

void mapPort(const std::string& port, const std::string& device) {
    wine({"reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", port, "/d", device, "/f"});
    ChildProcess server({"wineserver", "-w"}, wineEnv());
    server.wait(60000);
}

struct Wine : ::testing::Test {
    void SetUp() override {
        if (underUserModeEmulation())
            GTEST_SKIP() << "this kernel runs 32-bit programs only under qemu-i386 user "
                            "emulation, where Wine cannot start";
        struct stat st {};
        ASSERT_EQ(stat((kWin32Bin + "/kvq-host.exe").c_str(), &st), 0)
            << "build the win32 preset first";
        ASSERT_EQ(wine({"cmd", "/c", "exit"}, 300000), 0) << "Wine prefix " << kPrefix;
        ModemLines::use(std::string(::testing::TempDir()) + "kvq-wine-" + std::to_string(getpid()));
        ModemLines::reset();
    }
    std::unique_ptr<HostRun> watch(const std::string& dll, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"watch", kWin32Bin + "/" + dll, "--seconds", "120"};
        args.insert(args.end(), extra.begin(), extra.end());
        auto run = std::make_unique<HostRun>(
            args, wineEnv({{"LD_PRELOAD", ModemLines::library()}}),
            std::vector<std::string>{"wine", kWin32Bin + "/kvq-host.exe"});
        EXPECT_EQ(run->waitFor("watching", 180000), "watching");
        return run;
    }
};

} // namespace

TEST_F(Wine, QuillportButtonsFollowTheLinesOfCom3) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    mapPort("COM3", pty.slavePath());
    auto run = watch("Quillport.dll");
    int announcements = 0;
    for (const std::string& e : run->events())
        announcements += e.rfind("announce", 0) == 0;
    EXPECT_EQ(announcements, 4);
    ModemLines::set(true, false, false, false);
    EXPECT_NE(run->waitFor("fired Quillport/Button 1 (CTS)", 20000), "");
    ModemLines::set(false, false, false, false);
    EXPECT_NE(run->waitFor("activeChanged Quillport/Button 1 (CTS) 0", 20000), "");
    EXPECT_EQ(run->finish(), 0);
}

TEST_F(Wine, KvX10SwitchesModulesAndFiresEvents) {
    ChildProcess sim({std::string(KVQ_BIN_DIR) + "/cm11a-sim", "--poll-interval", "300"});
    std::string line = sim.waitFor("device ", 10000);
    ASSERT_FALSE(line.empty());
    mapPort("COM1", line.substr(7));
    auto run = watch("KV-X10.dll", {"--invoke", "X10/House Code: A/Unit Code: 1/Power On",
                                    "--invoke", "X10/House Code: G/Unit Code: 1/Power On"});
    EXPECT_NE(sim.waitFor("A1 ON put on the power line", 30000), "");
    EXPECT_NE(sim.waitFor("G1 ON put on the power line", 30000), "");
    sim.write("report A1 A-OFF\n");
    EXPECT_NE(run->waitFor("fired KV-X10/House Code: A/Unit Code: 1/Powered Off", 30000), "");
    EXPECT_EQ(run->finish(), 0);
    sim.write("quit\n");
}
