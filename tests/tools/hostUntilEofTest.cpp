// kvq-host watch driven through its standard input: --until-eof ends the watch
// when a script closes it, --commands carries out the lines it sends.
#include "fixtures/hostRun.h"
#include "fixtures/simulator.h"
#include "fixtures/userEmulation.h"
#include "tools/childProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

const std::string kSample = std::string(KVQ_BIN_DIR) + "/sample-plugin.so";

TEST(HostWatch, UntilEofEndsTheWatchWhenInputCloses) {
    ChildProcess host({std::string(KVQ_BIN_DIR) + "/kvq-host", "watch", kSample, "--seconds", "120",
                       "--until-eof"});
    ASSERT_TRUE(host.started());
    ASSERT_NE(host.waitFor("watching", 30000), "");
    EXPECT_EQ(host.wait(300), ChildProcess::kRunning); // still watching while input is open
    host.closeInput();
    EXPECT_NE(host.waitFor("detached", 30000), "");
    EXPECT_EQ(host.wait(10000), 0);
    EXPECT_EQ(countContaining(host.lines(), "interrupted"), 1);
}

TEST(HostWatch, CommandsFromInputRunInOrderAndEndTheWatch) {
    {
        HostRun host({"watch", kSample, "--seconds", "120", "--commands", "--resources", "3600"});
        ASSERT_TRUE(host.started());
        ASSERT_NE(host.waitFor("watching", 30000), "");
        std::string reading = host.waitFor("resources", 30000);
        EXPECT_NE(reading, "") << "--resources reads once when the loop starts";
        EXPECT_EQ(reading.find("privateKiB -1"), std::string::npos) << reading;

        ASSERT_TRUE(host.child().write("invoke Functions/Fire\n"));
        EXPECT_NE(host.waitFor("fired Events/Slot/Button", 30000), "");
        EXPECT_NE(host.waitFor("result Functions/Fire 0", 30000), "");
        ASSERT_TRUE(host.child().write("frob\n"
                                       "invoke Functions/None\n"
                                       "command \"Functions/Run\" 290 7\n"
                                       "resources\n"));
        EXPECT_NE(host.waitFor("result Functions/Run 0", 30000), "");
        reading = host.waitFor("resources", 30000);
        EXPECT_EQ(std::atoi(reading.c_str() + std::strlen("resources threads ")),
                  underUserModeEmulation() ? 3 : 2)
            << reading << ": the host's thread and the reader (and the emulator's)";

        // `end` with the input still open: the reader, blocked on it, keeps
        // nothing from ending.
        ASSERT_TRUE(host.child().write("sleep 100\nend\n"));
        EXPECT_NE(host.waitFor("detached", 30000), "");
        EXPECT_EQ(host.child().wait(30000), 0);
        EXPECT_EQ(countContaining(host.child().lines(), "interrupted"), 0)
            << "end is the end of its time";
        std::string errors = host.child().errorText();
        EXPECT_EQ(countContaining({errors}, "unknown command \"frob\""), 1) << errors;
        EXPECT_EQ(countContaining({errors}, "unknown path \"Functions/None\""), 1) << errors;
    }
    {
        // The end of input ends the watch once the lines before it are done.
        HostRun host({"watch", kSample, "--seconds", "120", "--commands"});
        ASSERT_TRUE(host.started());
        ASSERT_TRUE(host.child().write("sleep 200\ninvoke Functions/Fire\n"));
        host.child().closeInput();
        EXPECT_NE(host.waitFor("result Functions/Fire", 30000), "");
        EXPECT_NE(host.waitFor("detached", 30000), "");
        EXPECT_EQ(host.child().wait(30000), 0);
        EXPECT_EQ(countContaining(host.child().lines(), "interrupted"), 1);
    }
}

} // namespace
