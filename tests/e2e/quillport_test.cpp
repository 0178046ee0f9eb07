// Quillport end to end: kvq-host loads the native plug-in, COM3 is a
// pseudo-terminal whose modem lines the test sets through the preload fixture.
#include "fixtures/hostRun.h"
#include "fixtures/loadedPlugin.h"
#include "fixtures/modemlines/modemLines.h"
#include "fixtures/waitUntil.h"
#include "platform/host.h"
#include "platform/posix/testing.h"
#include "platform/windows.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kPlugin = std::string(KVQ_BIN_DIR) + "/Quillport.so";
const std::string kCts = "Quillport/Button 1 (CTS)";
const std::string kDsr = "Quillport/Button 2 (DSR)";
const std::string kRlsd = "Quillport/Button 3 (RLSD)";
const std::string kRing = "Quillport/Button 4 (RING)";

struct Quillport : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        ModemLines::use(std::string(::testing::TempDir()) + "kvq-quillport-" +
                        std::to_string(getpid()));
        ModemLines::reset();
    }
    void TearDown() override { ModemLines::remove(); }

    std::unique_ptr<HostRun> watch(const std::string& device) {
        auto run = std::make_unique<HostRun>(
            std::vector<std::string>{"watch", kPlugin, "--seconds", "60"},
            ChildProcess::Env{{"KVQ_PORT_COM3", device}, {"LD_PRELOAD", ModemLines::ldPreload()}});
        EXPECT_TRUE(run->started());
        EXPECT_EQ(run->waitFor("watching", 30000), "watching");
        return run;
    }
    // Only the events of the buttons' lines, in order.
    static std::vector<std::string> lineEvents(const std::vector<std::string>& all) {
        std::vector<std::string> out;
        for (const std::string& e : all)
            if (e.rfind("fired", 0) == 0 || e.rfind("activeChanged", 0) == 0) out.push_back(e);
        return out;
    }

    PseudoTerminal pty;
};

} // namespace

TEST_F(Quillport, ButtonsAnnounceAndFollowTheirLines) {
    auto run = watch(pty.slavePath());
    const std::vector<std::string> announced{"announce " + kCts, "announce " + kDsr,
                                             "announce " + kRlsd, "announce " + kRing};
    std::vector<std::string> first(run->events().begin(), run->events().begin() + 4);
    EXPECT_EQ(first, announced);
    run->clearEvents();

    ModemLines::set(true, false, false, false); // CTS on
    EXPECT_NE(run->waitFor("fired " + kCts), "");
    ModemLines::set(false, false, false, false); // CTS off
    EXPECT_NE(run->waitFor("activeChanged " + kCts + " 0"), "");
    ModemLines::set(false, true, false, false); // DSR alone
    EXPECT_NE(run->waitFor("fired " + kDsr), "");
    EXPECT_EQ(lineEvents(run->events()),
              (std::vector<std::string>{"activeChanged " + kCts + " 1", "fired " + kCts,
                                        "activeChanged " + kCts + " 0",
                                        "activeChanged " + kDsr + " 1", "fired " + kDsr}));

    // Two lines changed between two polls arrive in button order: carrier
    // drives button 3, ring button 4.
    run->clearEvents();
    ModemLines::set(false, true, true, true);
    EXPECT_NE(run->waitFor("fired " + kRing), "");
    EXPECT_EQ(lineEvents(run->events()),
              (std::vector<std::string>{"activeChanged " + kRlsd + " 1", "fired " + kRlsd,
                                        "activeChanged " + kRing + " 1", "fired " + kRing}));

    EXPECT_EQ(run->finish(), 0) << run->child().errorText(2000);
    EXPECT_NE(std::find(run->events().begin(), run->events().end(), "unload"), run->events().end());

    // After detach the device is free again for another program.
    int fd = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);
}

TEST_F(Quillport, LinesActiveAtStartFireOnce) {
    ModemLines::set(true, true, false, false);
    auto run = watch(pty.slavePath());
    EXPECT_NE(run->waitFor("fired " + kDsr), "");
    EXPECT_EQ(run->finish(), 0) << run->child().errorText(2000);
    EXPECT_EQ(lineEvents(run->events()),
              (std::vector<std::string>{"activeChanged " + kCts + " 1", "fired " + kCts,
                                        "activeChanged " + kDsr + " 1", "fired " + kDsr}));
}

TEST_F(Quillport, WithoutCom3TheButtonsExistTheHostIsToldOnceAndCom3IsTakenWhenItAppears) {
    ModemLines::set(true, false, false, false);
    const std::string link =
        std::string(::testing::TempDir()) + "kvq-quillport-com3-" + std::to_string(getpid());
    unlink(link.c_str());
    auto run = watch(link);
    EXPECT_EQ(lineEvents(run->events()), std::vector<std::string>{});
    ASSERT_EQ(symlink(pty.slavePath().c_str(), link.c_str()), 0);
    EXPECT_NE(run->waitFor("fired " + kCts, 20000), "");
    EXPECT_EQ(run->finish(), 0) << run->child().errorText(2000);
    unlink(link.c_str());
    int announcements = 0;
    std::vector<std::string> errors;
    for (const std::string& e : run->events()) {
        announcements += e.rfind("announce", 0) == 0;
        if (e.rfind("error", 0) == 0) errors.push_back(e);
    }
    EXPECT_EQ(announcements, 4);
    EXPECT_EQ(errors, std::vector<std::string>{"error -3 vStatusLineNode:openComPort()"});
}

// Quillport.ini chooses the port, COM10 and above too. An empty value leaves
// COM3 in use silently; a bad value, or a file that is there but cannot be
// read, leaves COM3 in use and is told once at build.
TEST_F(Quillport, QuillportIniChoosesThePortAndABadOneIsToldOnce) {
    struct Case {
        const char* settings; // null: a folder named Quillport.ini
        const char* port;
        int told;
    };
    for (const Case& c : {Case{"[Port]\nName=com17\n", "COM17", 0},
                          {"[Port]\nName=\n", "COM3", 0},
                          {"[Port]\nName=COM3x\n", "COM3", 1},
                          {nullptr, "COM3", 1}}) {
        PluginCopy copy(kPlugin, c.settings != nullptr ? "Quillport.ini" : "",
                        c.settings != nullptr ? c.settings : "");
        ASSERT_TRUE(copy.ok());
        const std::string folderIni = copy.folder() + "/Quillport.ini";
        if (c.settings == nullptr) {
            ASSERT_EQ(mkdir(folderIni.c_str(), 0700), 0); // removed with the copy
        }
        const std::string nowhere = "/dev/kvq-no-such-device";
        const bool com3 = std::string(c.port) == "COM3";
        ModemLines::set(false, false, false, false);
        HostRun run({"watch", copy.path(), "--seconds", "60"},
                    {{"KVQ_PORT_COM17", com3 ? nowhere : pty.slavePath()},
                     {"KVQ_PORT_COM3", com3 ? pty.slavePath() : nowhere},
                     {"LD_PRELOAD", ModemLines::ldPreload()}});
        ASSERT_EQ(run.waitFor("watching", 30000), "watching") << c.port;
        ModemLines::set(false, false, false, true); // carrier detect
        EXPECT_NE(run.waitFor("fired " + kRlsd, 20000), "") << c.port;
        EXPECT_EQ(run.finish(), 0) << run.child().errorText(2000);
        EXPECT_EQ(run.count("error"), c.told) << c.port;
        EXPECT_EQ(run.count("error -6 vStatusLineNode:readPortSetting()"), c.told) << c.port;
    }
}

TEST_F(Quillport, StatusThatCannotBeReadIsAnOutageToldOnceAndTheButtonsCatchUp) {
    ModemLines::set(true, false, false, false);
    auto run = watch(pty.slavePath());
    EXPECT_NE(run->waitFor("fired " + kCts, 20000), "");
    for (int outage = 0; outage < 2; ++outage) {
        run->clearEvents();
        ModemLines::failStatusReads(true); // the adapter pulled out
        EXPECT_EQ(run->waitFor("error", 20000), "error -4 vStatusLineNode:run()");
        // Meanwhile the lines change; the buttons keep what they showed. The
        // second outage outlasts two reopens (every 2 s), which fail too.
        ModemLines::set(outage == 1, outage == 0, false, false);
        EXPECT_EQ(run->waitFor("Quillport/", outage == 0 ? 300 : 4500), "") << outage;
        ModemLines::failStatusReads(false); // back: the changes in button order
        const std::vector<std::string> expected =
            outage == 0 ? std::vector<std::string>{"activeChanged " + kCts + " 0",
                                                   "activeChanged " + kDsr + " 1", "fired " + kDsr}
                        : std::vector<std::string>{"activeChanged " + kCts + " 1", "fired " + kCts,
                                                   "activeChanged " + kDsr + " 0"};
        EXPECT_NE(run->waitFor(expected.back(), 20000), "") << outage;
        EXPECT_EQ(lineEvents(run->events()), expected) << outage;
        int errors = 0;
        for (const std::string& e : run->events())
            errors += e.rfind("error", 0) == 0;
        EXPECT_EQ(errors, 1) << outage;
    }
    EXPECT_EQ(run->finish(), 0);
}

// The host's own process: the poll loop posts to the queue of this thread,
// which the test fills as a host busy elsewhere would. The modem lines of a
// pseudo-terminal come only through the preloaded fixture, so the test below
// runs this one in a child of its own.
TEST(QuillportInProcess, DISABLED_LineChangesOutlastAFullQueue) {
    LoadedPlugin quill(kPlugin);
    ASSERT_TRUE(quill.loaded()) << quill.error();
    quill.attach();
    quill.build();
    uint32_t cts = quill.child(quill.child(quill.root(), "Quillport"), "Button 1 (CTS)");
    ASSERT_NE(cts, 0u);
    auto active = [&] { return quill.word(2, 40, cts) != 0; };
    ModemLines::set(true, false, false, false);
    ASSERT_TRUE(waitUntil(active, 20000, true));

    ASSERT_TRUE(plat::registerClass(nullptr, "kvqFiller", &plat::defWindowProc));
    plat::Window filler = plat::createWindow("kvqFiller", "", nullptr, nullptr, nullptr);
    ASSERT_NE(filler, nullptr);
    int posted = 0;
    while (posted < 20000 && plat::postMessage(filler, plat::kWmUser, 0, 0))
        ++posted;
    EXPECT_LE(posted, 10000);
    const int refused = plat::testing::refusedPosts();
    ModemLines::set(false, false, false, false); // CTS drops while no post gets through
    ASSERT_TRUE(waitUntil([&] { return plat::testing::refusedPosts() > refused; }, 20000));
    EXPECT_TRUE(active());

    // The host catches up: the drop reaches the button, and nothing fired twice.
    EXPECT_TRUE(waitUntil([&] { return !active(); }, 20000, true));
    int fired = 0;
    for (const CallOut& c : quill.callOuts)
        fired += c.category() == 2 && c.operation() == 2 && c.word(2) == 321;
    EXPECT_EQ(fired, 1);
    plat::destroyWindow(filler);
    EXPECT_EQ(quill.detach(), 1u);
}

// A host that destroys the button that fires while it handles the event
// (321): the plug-in must not touch the button afterwards, and the others go on.
TEST_F(Quillport, AHostThatDestroysTheFiringButtonInItsCallOut) {
    HostRun q({"watch", kPlugin, "--seconds", "60", "--destroy-fired"},
              {{"KVQ_PORT_COM3", pty.slavePath()}, {"LD_PRELOAD", ModemLines::ldPreload()}});
    ASSERT_EQ(q.waitFor("watching", 30000), "watching");
    ModemLines::set(true, false, false, false);
    EXPECT_NE(q.waitFor("fired " + kCts, 20000), "");
    ModemLines::set(false, true, false, false); // CTS drops: its button is gone
    EXPECT_NE(q.waitFor("fired " + kDsr, 20000), "");
    EXPECT_EQ(q.finish(), 0);
    EXPECT_TRUE(noSanitizerReport(q.child()));
}

TEST_F(Quillport, LineChangesOutlastAFullQueue) {
    ChildProcess child(
        {std::string(KVQ_BIN_DIR) + "/test_e2e", "--gtest_also_run_disabled_tests",
         "--gtest_filter=QuillportInProcess.DISABLED_*"},
        {{"KVQ_PORT_COM3", pty.slavePath()}, {"LD_PRELOAD", ModemLines::ldPreload()}});
    std::string line, output;
    while (child.readLine(line, 60000))
        output += line + "\n";
    EXPECT_EQ(child.wait(10000), 0) << output << child.errorText();
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

std::vector<std::string> debugLines;
void keepDebugLine(const char* text) {
    debugLines.push_back(text);
}

// Without its window the poll thread has nothing to post to: it ends at once,
// and the window's failure is reported once. The poll's pacer is the node's,
// from build to teardown on the host's thread, whether the worker ran or not:
// a high-resolution timer where the system has one, else a fine-timer request.
TEST_F(Quillport, NoWindowMeansNoPollingAndThePacerIsTheNodes) {
    plat::listenDebugOutput(&keepDebugLine);
    for (bool highResolution : {true, false}) {
        plat::testing::offerHighResolutionTimers(highResolution);
        debugLines.clear();
        LoadedPlugin quill(kPlugin);
        ASSERT_TRUE(quill.loaded()) << quill.error();
        quill.attach();
        const int threads = plat::testing::liveThreads();
        plat::testing::failWindowCreation(true);
        quill.build();
        plat::testing::failWindowCreation(false);
        EXPECT_TRUE(waitUntil([&] { return plat::testing::liveThreads() == threads; }, 5000));
        int reports = 0; // of the window; COM3 is absent here, which is reported too
        for (const CallOut& c : quill.callOuts)
            reports += c.category() == 1 && c.operation() == 304 && c.word(0) == uint32_t(-2);
        EXPECT_EQ(reports, 1);
        EXPECT_EQ(plat::testing::fineTimerRequests(), highResolution ? 0 : 1);
        ASSERT_FALSE(debugLines.empty());
        EXPECT_EQ(debugLines[0], highResolution
                                     ? "Quillport: the poll is paced by a high-resolution "
                                       "waitable timer"
                                     : "Quillport: the poll is paced by 1 ms sleeps under "
                                       "timeBeginPeriod(1)");
        EXPECT_EQ(quill.detach(), 1u);
        EXPECT_EQ(plat::testing::fineTimerRequests(), 0);
    }
    plat::listenDebugOutput(nullptr);
    plat::testing::offerHighResolutionTimers(true);
}

// A status read that blocks in its driver across teardown (a hung adapter)
// outlives every stop wait. Detach still ends, the window goes with it, and
// nothing the worker uses is freed or closed under it: the port stays open
// until the read returns, and the worker then closes it and frees the node.
TEST_F(Quillport, AStatusReadBlockedAcrossTeardownLeavesTheNodeToItsWorker) {
    namespace t = plat::testing;
    const int threads = t::liveThreads(), handles = t::liveThreadHandles();
    const int mutexes = t::liveMutexes(), windows = t::liveWindows();
    const int devices = t::openSerialDevices(), kept = t::librariesKeptLoaded();
    {
        LoadedPlugin quill(kPlugin);
        ASSERT_TRUE(quill.loaded()) << quill.error();
        struct Release { // also after a failed assertion, before the library goes
            ~Release() {
                t::blockStatusReads(false);
                unsetenv("KVQ_PORT_COM3");
            }
        } release;
        ASSERT_EQ(setenv("KVQ_PORT_COM3", pty.slavePath().c_str(), 1), 0);
        quill.attach();
        t::blockStatusReads(true);
        quill.build();
        ASSERT_TRUE(waitUntil([] { return t::blockedStatusReads() == 1; }, 20000));
        EXPECT_EQ(quill.detach(), 1u);
        EXPECT_EQ(t::liveWindows(), windows);
        EXPECT_EQ(t::openSerialDevices(), devices + 1) << "closed under its worker";
        EXPECT_EQ(t::liveThreads(), threads + 1);
        EXPECT_EQ(t::librariesKeptLoaded(), kept + 1) << "unloaded under its worker";

        t::blockStatusReads(false);
        EXPECT_TRUE(waitUntil([&] { return t::liveThreads() == threads; }, 20000));
        EXPECT_EQ(t::openSerialDevices(), devices);
        EXPECT_EQ(t::liveThreadHandles(), handles);
        EXPECT_EQ(t::liveMutexes(), mutexes);
    }
}
