// Quillport end to end: kvq-host loads the native plug-in, COM3 is a
// pseudo-terminal whose modem lines the test sets through the preload fixture.
#include "fixtures/hostRun.h"
#include "fixtures/modemlines/modemLines.h"

#include <gtest/gtest.h>

#include <fcntl.h>
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

TEST_F(Quillport, WithoutCom3TheButtonsExistAndNothingFires) {
    ModemLines::set(true, true, true, true);
    auto run = watch("/dev/kvq-no-such-device");
    EXPECT_EQ(run->waitFor("fired", 1500), "");
    EXPECT_EQ(run->finish(), 0) << run->child().errorText(2000);
    EXPECT_EQ(lineEvents(run->events()), std::vector<std::string>{});
    int announcements = 0;
    for (const std::string& e : run->events())
        announcements += e.rfind("announce", 0) == 0;
    EXPECT_EQ(announcements, 4);
    for (const std::string& e : run->events())
        EXPECT_EQ(e.rfind("error", 0), std::string::npos) << e;
}
