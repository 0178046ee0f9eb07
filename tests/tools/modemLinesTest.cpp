// The modem-line preload library, seen from a child process that opens a
// pseudo-terminal slave with the library preloaded (kvq_modemlines_probe,
// built like the tests, so sanitizer builds also check the preload order).
#include "fixtures/modemlines/modemLines.h"
#include "childProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>

namespace {

const std::string kProbe = KVQ_BIN_DIR "/kvq_modemlines_probe";
constexpr int kStartMs = 10000;
constexpr int kReplyMs = 3000;

// A pseudo-terminal whose slave the probe opens; the master stays with the test.
struct Pty {
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) slave = ptsname(master);
    }
    ~Pty() {
        if (master >= 0) close(master);
    }
    int master = -1;
    std::string slave;
};

// Each test uses its own state and output files.
class ModemLinesTest : public testing::Test {
protected:
    void SetUp() override {
        std::string base = testing::TempDir() + "kvq-modemlines-" + std::to_string(getpid()) + "-" +
                           testing::UnitTest::GetInstance()->current_test_info()->name();
        ModemLines::use(base + ".state");
        setenv(KVQ_MODEMLINES_OUT_FILE_ENV, (base + ".out").c_str(), 1);
        ASSERT_TRUE(ModemLines::reset());
        ASSERT_FALSE(pty.slave.empty());
    }
    void TearDown() override { ModemLines::remove(); }

    std::unique_ptr<ChildProcess> probe(const std::string& device, bool preload = true) {
        ChildProcess::Env env;
        if (preload) env.emplace_back("LD_PRELOAD", ModemLines::ldPreload());
        auto child = std::make_unique<ChildProcess>(std::vector<std::string>{kProbe, device}, env);
        std::string line;
        EXPECT_TRUE(child->readLine(line, kStartMs) && line == "ready")
            << line << child->errorText(100);
        return child;
    }

    static std::string ask(ChildProcess& child, const std::string& command) {
        std::string line;
        if (!child.write(command + "\n") || !child.readLine(line, kReplyMs)) return "(no answer)";
        return line;
    }

    Pty pty;
};

TEST_F(ModemLinesTest, ChildSeesTheLinesTheTestSets) {
    auto child = probe(pty.slave);
    EXPECT_EQ(ask(*child, "get"), "get 0x0");
    ModemLines::set(true, false, false, false);
    EXPECT_EQ(ask(*child, "get"), "get 0x20"); // TIOCM_CTS
    ModemLines::set(false, true, true, true);
    EXPECT_EQ(ask(*child, "get"), "get 0x1c0"); // TIOCM_DSR | TIOCM_RNG | TIOCM_CAR
    EXPECT_EQ(ask(*child, "get64"), "get64 0x1c0");
    EXPECT_EQ(ModemLines::bits(), static_cast<unsigned>(TIOCM_DSR | TIOCM_RNG | TIOCM_CAR));

    // DTR and RTS are the child's own, reported with the inputs and to the test.
    EXPECT_EQ(ask(*child, "bis 6"), "ok");
    EXPECT_EQ(ask(*child, "get"), "get 0x1c6");
    EXPECT_EQ(ModemLines::outputs(), static_cast<unsigned>(TIOCM_DTR | TIOCM_RTS));
    EXPECT_EQ(ask(*child, "bic 2"), "ok");
    EXPECT_EQ(ModemLines::outputs(), static_cast<unsigned>(TIOCM_RTS));
    EXPECT_EQ(ask(*child, "set 0x122"), "ok"); // input bits in TIOCMSET are not the child's
    EXPECT_EQ(ask(*child, "get"), "get 0x1c2");

    // The device pulled out: its status cannot be read, whatever the lines do
    // meanwhile; back, it reads what they are then. DTR and RTS stay the child's.
    const std::string eio = std::to_string(EIO);
    ASSERT_TRUE(ModemLines::failStatusReads(true));
    EXPECT_EQ(ask(*child, "get"), "get error " + eio);
    EXPECT_EQ(ask(*child, "get64"), "get64 error " + eio);
    EXPECT_EQ(ask(*child, "icount"), "icount error " + eio);
    EXPECT_EQ(ask(*child, "wait 0x20"), "wait error " + eio);
    ModemLines::set(true, false, false, false);
    EXPECT_EQ(ask(*child, "get"), "get error " + eio) << "setting the lines keeps the failure";
    EXPECT_EQ(ask(*child, "bis 4"), "ok");
    ASSERT_TRUE(ModemLines::failStatusReads(false));
    EXPECT_EQ(ask(*child, "get"), "get 0x26"); // CTS | RTS | DTR
    EXPECT_EQ(ask(*child, "icount"), "icount 3 2 2 2");
}

TEST_F(ModemLinesTest, CountersFollowEveryChange) {
    auto child = probe(pty.slave);
    EXPECT_EQ(ask(*child, "icount"), "icount 0 0 0 0");
    ModemLines::set(true, false, false, false);
    EXPECT_EQ(ask(*child, "icount"), "icount 1 0 0 0");
    ModemLines::set(false, false, true, false);
    ModemLines::set(false, false, false, true);
    EXPECT_EQ(ask(*child, "icount"), "icount 2 0 2 1");
    ModemLines::set(false, false, false, true); // no change, no count
    EXPECT_EQ(ask(*child, "icount"), "icount 2 0 2 1");

    // A file written by hand with the lines only: the child counts the changes
    // it sees itself, from the last state it read (CD active).
    for (auto [text, answer] : {std::pair{"0\n", "get 0x0"}, std::pair{"0x40\n", "get 0x40"}}) {
        std::FILE* f = std::fopen(ModemLines::file().c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(text, f);
        std::fclose(f);
        EXPECT_EQ(ask(*child, "get"), answer);
    }
    EXPECT_EQ(ask(*child, "icount"), "icount 0 0 0 2");
}

TEST_F(ModemLinesTest, WaitEndsWhenAWatchedLineChanges) {
    auto child = probe(pty.slave);
    ASSERT_TRUE(child->write("wait 0x20\n"));
    // Toggle CTS until the child reports the change it waited for; when it
    // started waiting is not observable, the answer is.
    std::string line;
    bool cts = false;
    long long end = ChildProcess::now() + kStartMs;
    while (ChildProcess::now() < end && line.empty()) {
        cts = !cts;
        ModemLines::set(cts, false, false, false);
        child->readLine(line, 50);
    }
    EXPECT_EQ(line, "wait ok");

    // A device pulled out ends a wait, at once or while it waits.
    ASSERT_TRUE(child->write("wait 0x20\n"));
    ASSERT_TRUE(ModemLines::failStatusReads(true));
    EXPECT_TRUE(child->readLine(line, kStartMs));
    EXPECT_EQ(line, "wait error " + std::to_string(EIO));
}

TEST_F(ModemLinesTest, OnlyPseudoTerminalSlavesAreServed) {
    ModemLines::set(true, true, false, false);
    constexpr int kNotATerminal = ENOTTY;
    auto null = probe("/dev/null");
    EXPECT_EQ(ask(*null, "get"), "get error " + std::to_string(kNotATerminal));
    // A master opened through /dev/ptmx goes to the real ioctl too.
    auto master = probe("/dev/ptmx");
    EXPECT_NE(ask(*master, "get").rfind("get error", 0), std::string::npos);
    // Without the library, the slave has no modem lines at all.
    auto plain = probe(pty.slave, false);
    EXPECT_EQ(ask(*plain, "get").rfind("get error", 0), 0u);
    EXPECT_EQ(ask(*plain, "icount").rfind("icount error", 0), 0u);
}

} // namespace
