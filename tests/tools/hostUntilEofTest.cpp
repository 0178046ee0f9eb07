// kvq-host watch --until-eof: a script ends the watch by closing its input.
#include "tools/childProcess.h"

#include <gtest/gtest.h>

TEST(HostWatch, UntilEofEndsTheWatchWhenInputCloses) {
    ChildProcess host({std::string(KVQ_BIN_DIR) + "/kvq-host", "watch",
                       std::string(KVQ_BIN_DIR) + "/sample-plugin.so", "--seconds", "120",
                       "--until-eof"});
    ASSERT_TRUE(host.started());
    ASSERT_NE(host.waitFor("watching", 30000), "");
    EXPECT_EQ(host.wait(300), ChildProcess::kRunning); // still watching while input is open
    host.closeInput();
    EXPECT_NE(host.waitFor("detached", 30000), "");
    EXPECT_EQ(host.wait(10000), 0);
    bool interrupted = false;
    for (const std::string& line : host.lines())
        interrupted |= line.find("interrupted") != std::string::npos;
    EXPECT_TRUE(interrupted);
}
