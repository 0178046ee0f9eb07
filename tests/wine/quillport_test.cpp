// Quillport.dll under Wine: its buttons follow the lines of COM3, and its
// outages are each told once.
#include "wine/wineFixture.h"

using namespace winetest;

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
        // The first outage outlasts two reopens (every 2 s), which fail too.
        if (outage == 1) {
            EXPECT_EQ(q->waitFor("error", 4500), "");
        }
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
    EXPECT_EQ(held->waitFor("error", 4500), "") << "told again at a failed reopen";
    markBusy("");
    EXPECT_NE(held->waitFor("fired Quillport/Button 1 (CTS)", 30000), "");
    EXPECT_EQ(held->finish(), 0);
    EXPECT_EQ(errors(*held), 1);
}
