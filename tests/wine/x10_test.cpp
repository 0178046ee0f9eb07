// KV-X10.dll under Wine against cm11a-sim: commands, reports, the clock, the
// port its .ini names (and the bad settings of either plug-in), probe, and
// every kind of outage.
#include "fixtures/anotherDevice.h"
#include "wine/wineFixture.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

using namespace winetest;

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

// The real DLL with another device on COM1: noise, NMEA text, impossible
// uploads and macro reports; then all 512 commands on a busy machine (see
// anotherDevice.h).
TEST_F(Wine, KvX10TakesNothingFromAnotherDeviceAndSendsEachCommandOnceWhenBusy) {
    WineSimulator sim;
    ASSERT_TRUE(sim.ok());
    auto x10 = watch("KV-X10.dll", {"--commands"});
    expectAnotherDeviceOnTheLineChangesNothing(sim, *x10);
    expectEveryCommandOnceOnABusyMachine(sim, *x10);
    EXPECT_EQ(x10->finish(), 0);
}

// KV-X10.ini beside a copy of the DLL names the port in each encoding Windows
// users save it in, COM4 or COM12, which the plug-in opens as \\.\COMn; COM1
// leads nowhere, so a plug-in that opened it would say so. The copy's folder
// has a dot and a character outside the ANSI code page in its name.
TEST_F(Wine, KvX10UsesThePortItsIniNames) {
    pointPort("com1", "/nonexistent/com1");
    Simulator sim({"--link", portLink("com4")}, {{"KVQ_MODEMLINES_BUSY_FILE", busyFile()}}, 200);
    ASSERT_TRUE(sim.ok());
    pointPort("com12", portLink("com4"));
    const std::string com12 = "[Port]\r\nName=com12\r\n";
    for (const std::string& saved :
         {std::string("[Port]\r\nName=COM4\r\n"), "\xEF\xBB\xBF" + com12, asUtf16Le(com12)}) {
        PluginCopy copy(kWin32Bin + "/KV-X10.dll", "KV-X10.ini", saved);
        ASSERT_TRUE(copy.ok());
        auto x10 =
            hostIn(copy.folder(), {"watch", "KV-X10.dll", "--seconds", "300", "--invoke", kA1On});
        ASSERT_EQ(x10->waitFor("watching", 120000), "watching");
        EXPECT_NE(sim.child->waitFor("A1 ON put on the power line", 30000), "") << saved.size();
        EXPECT_EQ(x10->finish(), 0);
        EXPECT_EQ(x10->count("error"), 0) << saved.size();
    }
}

// Either plug-in: an empty value is no value, and a bad value or a settings
// file that is there but cannot be read (a folder of its name) is told once,
// at build.
TEST_F(Wine, PortSettingsThatCannotBeUsedAreToldOnceByEitherPlugin) {
    pointPort("com1", "/nonexistent/com1");
    struct Case {
        const char* settings; // null: a folder named like the file
        int told;
    };
    for (const std::string plugin : {"KV-X10", "Quillport"}) {
        const std::string report = std::string("error -6 ") +
                                   (plugin == "KV-X10" ? "vX10Plugin" : "vStatusLineNode") +
                                   ":readPortSetting()";
        for (const Case& c :
             {Case{"[Port]\r\nName=\r\n", 0}, {"[Port]\r\nName=COM0\r\n", 1}, {nullptr, 1}}) {
            PluginCopy copy(kWin32Bin + "/" + plugin + ".dll", c.settings ? plugin + ".ini" : "",
                            c.settings ? c.settings : "");
            ASSERT_TRUE(copy.ok());
            const std::string folderIni = copy.folder() + "/" + plugin + ".ini";
            if (c.settings == nullptr) {
                ASSERT_EQ(mkdir(folderIni.c_str(), 0700), 0); // removed with the copy
            }
            auto h = hostIn(copy.folder(), {"watch", plugin + ".dll", "--seconds", "300"});
            EXPECT_EQ(h->waitFor("watching", 120000), "watching");
            EXPECT_EQ(h->finish(), 0);
            EXPECT_EQ(h->count("error -6"), c.told) << plugin << " " << c.told;
            EXPECT_EQ(h->count(report), c.told) << plugin << " " << c.told;
        }
    }
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
