// The host library and the kvq-host tool against the sample plug-in, through
// the real library boundary. Each test loads its own copy of the library, so
// the plug-in object is fresh whatever the loader keeps of an earlier load.
#include "childProcess.h"
#include "lib/cli.h"
#include "lib/plugin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

using kvqhost::Call;
using kvqhost::Handle;
using kvqhost::Plugin;

namespace {

const std::string kSample = KVQ_BIN_DIR "/sample-plugin.so";

// A copy of the sample library under a name of its own, removed at the end.
class SampleCopy {
public:
    SampleCopy() {
        static std::atomic<int> counter{0};
        path_ = std::string(KVQ_BIN_DIR) + "/sample-copy-" + std::to_string(getpid()) + "-" +
                std::to_string(counter++) + ".so";
        std::ifstream in(kSample, std::ios::binary);
        std::ofstream out(path_, std::ios::binary);
        out << in.rdbuf();
        ok_ = in.good() && out.good();
    }
    ~SampleCopy() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }
    bool ok() const { return ok_; }

private:
    std::string path_;
    bool ok_ = false;
};

std::unique_ptr<Plugin> loadBuilt(const SampleCopy& copy) {
    std::string error;
    std::unique_ptr<Plugin> p = Plugin::load(copy.path(), error);
    EXPECT_TRUE(p) << error;
    if (!p) return p;
    EXPECT_TRUE(p->attach());
    p->build();
    return p;
}

Handle at(Plugin& p, const std::string& a, const std::string& b = "", const std::string& c = "") {
    std::vector<std::string> names{a};
    if (!b.empty()) names.push_back(b);
    if (!c.empty()) names.push_back(c);
    std::string error;
    Handle h = p.find(names, &error);
    EXPECT_NE(h, 0u) << error;
    return h;
}

TEST(HostSample, WalksTheTreeWithTypesValuesAndAttributes) {
    SampleCopy copy;
    ASSERT_TRUE(copy.ok());
    auto p = loadBuilt(copy);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->recordSize(), 112u);
    EXPECT_EQ(p->displayName().value_or(""), "Sample");
    EXPECT_EQ(p->root(), p->pluginObject());
    EXPECT_EQ(p->hostData(), 0u);
    p->setHostData(0xC0DE);
    EXPECT_EQ(p->hostData(), 0xC0DEu);

    std::vector<kvqhost::TreeEntry> tree = p->walk();
    ASSERT_GE(tree.size(), 5u);
    EXPECT_TRUE(tree[0].path.empty());
    EXPECT_EQ(tree[0].type, "root");
    std::map<std::string, const kvqhost::TreeEntry*> byPath;
    for (const auto& e : tree) {
        std::string path;
        for (const auto& n : e.path)
            path += (path.empty() ? "" : "/") + n;
        byPath[path] = &e;
        EXPECT_EQ(e.depth, static_cast<int>(e.path.size()));
    }
    ASSERT_TRUE(byPath.count("Group/Leaf A"));
    const auto& leaf = *byPath["Group/Leaf A"];
    EXPECT_EQ(leaf.type, "leaf");
    EXPECT_EQ(leaf.value.value_or(""), "7");
    EXPECT_EQ(leaf.valueKind, kvqhost::ValueKind::Int32);
    EXPECT_FALSE(byPath["Group/Leaf B"]->value.has_value());

    const auto& group = *byPath["Group"];
    EXPECT_EQ(group.category, "cat");
    ASSERT_EQ(group.attributes.size(), 2u);
    EXPECT_EQ(group.attributes[0].name, "id");
    EXPECT_EQ(group.attributes[0].kind, kvqhost::ValueKind::Int32);
    EXPECT_EQ(group.attributes[0].value.value_or(""), "42");
    EXPECT_EQ(group.attributes[1].kind, kvqhost::ValueKind::Text);
    EXPECT_EQ(group.attributes[1].value.value_or(""), "hello");

    const auto& id = *byPath["Identification"];
    EXPECT_EQ(id.handle, p->identification());
    ASSERT_EQ(id.attributes.size(), 2u);
    for (const auto& a : id.attributes) {
        EXPECT_EQ(a.value.value_or(""), "20060217") << a.name;
        EXPECT_NE(a.header & (1u << 27), 0u) << a.name << " is locked";
    }
    ASSERT_TRUE(byPath.count("Events/Slot/Button"));
    EXPECT_EQ(byPath["Events/Slot/Button"]->type, "button");
    EXPECT_EQ(p->find({"Events", "Slot", "Button"}), byPath["Events/Slot/Button"]->handle);

    std::string error;
    EXPECT_EQ(p->find({"Group", "Leaf C"}, &error), 0u);
    EXPECT_NE(error.find("Leaf C"), std::string::npos);
}

TEST(HostSample, AnswersTheAnnouncementQueriesAndSendsTheSevenCommandWords) {
    SampleCopy copy;
    ASSERT_TRUE(copy.ok());
    auto p = loadBuilt(copy);
    ASSERT_TRUE(p);
    Handle button = at(*p, "Events", "Slot", "Button");

    // The announcement during build: (1,207), (1,11) on H, (2,2) to H with S.
    std::vector<Call> calls = p->calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_TRUE(calls[0].is(1, 207));
    EXPECT_TRUE(calls[1].is(1, 11));
    EXPECT_EQ(calls[1].object(), p->hostTarget());
    EXPECT_TRUE(calls[2].is(2, 2));
    EXPECT_EQ(calls[2].object(), p->hostTarget());
    EXPECT_EQ(calls[2].arg(0), p->hostSource());
    EXPECT_EQ(calls[2].commandCode(), 322u);
    EXPECT_EQ(calls[2].commandNode(), button);
    for (const Call& c : calls)
        EXPECT_EQ(c.record.context, p->context());

    Handle run = at(*p, "Functions", "Run");
    EXPECT_EQ(p->command(run, {5, 289, 0, 6, 0, 7, 0}), 0);
    EXPECT_EQ(p->attributeText(run, "last").value_or(""), "invoke 5 6 7");
    EXPECT_EQ(p->command(run, {8, 290, 0, 9, 0, 0, 0}), 0);
    EXPECT_EQ(p->attributeText(run, "last").value_or(""), "290 8 9");
    EXPECT_EQ(p->command(run, {1, 289, 1, 2, 0, 3, 0}), 0);
    EXPECT_EQ(p->attributeText(run, "last").value_or(""), "290 8 9") << "w3 = 1: no code";

    p->clearCalls();
    p->command(at(*p, "Functions", "Fire"), 289, p->hostTarget());
    std::vector<Call> fired = p->callsOf(2, 2);
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0].commandCode(), 321u);
    EXPECT_EQ(fired[0].commandNode(), button);
}

TEST(HostSample, ObserversFollowTheirNodeUntilDetach) {
    SampleCopy copy;
    ASSERT_TRUE(copy.ok());
    auto p = loadBuilt(copy);
    ASSERT_TRUE(p);
    Handle leaf = at(*p, "Group", "Leaf A");
    Handle group = at(*p, "Group");
    Handle proxy = p->observe(leaf);
    ASSERT_NE(proxy, 0u);
    ASSERT_NE(p->observe(group), 0u);

    p->clearCalls();
    p->setActive(leaf, true);
    EXPECT_TRUE(p->isActive(leaf));
    std::vector<Call> events = p->callsOf(3, 16);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].observerKnown);
    EXPECT_EQ(events[0].observedNode, leaf);
    EXPECT_EQ(events[0].arg(0), 1u);

    EXPECT_TRUE(p->unobserve(proxy));
    p->clearCalls();
    p->setActive(leaf, false);
    EXPECT_TRUE(p->callsOf(3, 16).empty()) << "a destroyed proxy forwards nothing";

    void* module = p->moduleInstance();
    ASSERT_TRUE(p->detach());
    std::vector<Call> unload = p->callsOf(1, 2);
    ASSERT_EQ(unload.size(), 1u);
    EXPECT_EQ(unload[0].object(), toHandle(module));
    bool groupDestroyed = false;
    for (const Call& c : p->callsOf(3, 2))
        groupDestroyed |= c.observedNode == group;
    EXPECT_TRUE(groupDestroyed);
    EXPECT_TRUE(p->observers().empty()) << "detach ends the proxies that outlived their nodes";
    EXPECT_FALSE(p->detach()) << "a second detach finds no plug-in object";
    EXPECT_EQ(p->callsOf(1, 2).size(), 1u);
}

TEST(HostSample, TwoLoadedPluginsGetTheirOwnCallOuts) {
    SampleCopy first, second;
    ASSERT_TRUE(first.ok() && second.ok());
    auto a = loadBuilt(first);
    auto b = loadBuilt(second);
    ASSERT_TRUE(a && b);
    ASSERT_NE(a->root(), b->root()) << "two libraries, two plug-in objects";
    a->clearCalls();
    b->clearCalls();
    b->command(at(*b, "Functions", "Fire"), 289, b->hostTarget());
    EXPECT_EQ(a->callCount(), 0u);
    ASSERT_EQ(b->callsOf(2, 2).size(), 1u);
    EXPECT_EQ(b->callsOf(2, 2)[0].object(), b->hostTarget());
    EXPECT_EQ(b->callsOf(2, 2)[0].commandNode(), at(*b, "Events", "Slot", "Button"));
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

int run(std::vector<std::string> args, std::string& out, std::string& err) {
    std::ostringstream o, e;
    int code = kvqhost::runTool(args, o, e);
    out = o.str();
    err = e.str();
    return code;
}

TEST(HostSampleTool, PrintsTreeInvocationsAndEvents) {
    SampleCopy copy;
    ASSERT_TRUE(copy.ok());
    std::string out, err;

    ASSERT_EQ(run({"tree", copy.path(), "--json"}, out, err), 0) << err;
    bool leafSeen = false;
    for (const std::string& l : lines(out)) {
        EXPECT_EQ(l.rfind("{\"event\":\"node\",", 0), 0u) << l;
        if (l.find("\"path\":\"Group/Leaf A\"") != std::string::npos) {
            leafSeen = true;
            EXPECT_NE(l.find("\"value\":\"7\""), std::string::npos) << l;
            EXPECT_NE(l.find("\"valueKind\":\"int32\""), std::string::npos) << l;
        }
    }
    EXPECT_TRUE(leafSeen) << out;

    ASSERT_EQ(run({"tree", copy.path(), "--no-build"}, out, err), 0) << err;
    EXPECT_EQ(out.find("Group"), std::string::npos) << "nothing built";
    EXPECT_NE(out.find("@lib = 20060217 (int32)"), std::string::npos) << out;

    ASSERT_EQ(run({"invoke", copy.path(), "Functions/Fire"}, out, err), 0) << err;
    std::vector<std::string> shown = lines(out);
    ASSERT_EQ(shown.size(), 3u) << out;
    EXPECT_NE(shown[0].find("fired 321 Events/Slot/Button"), std::string::npos) << out;
    EXPECT_NE(shown[1].find("result 0 of command 289 on Functions/Fire"), std::string::npos);
    EXPECT_NE(shown[2].find("unload module"), std::string::npos);

    ASSERT_EQ(run({"command", copy.path(), "Functions/Nothing", "290"}, out, err), 1);
    EXPECT_NE(err.find("unknown path \"Functions/Nothing\""), std::string::npos) << err;
    EXPECT_EQ(lines(err).size(), 1u);
    EXPECT_NE(out.find("unload"), std::string::npos) << "detached all the same";

    ASSERT_EQ(run({"watch", copy.path(), "--seconds", "0", "--invoke", "Functions/Run", "--json"},
                  out, err),
              0)
        << err;
    std::vector<std::string> events = lines(out);
    std::vector<std::string> order;
    for (const std::string& l : events) {
        size_t at = l.find("\"event\":\"");
        ASSERT_NE(at, std::string::npos) << l;
        order.push_back(l.substr(at + 9, l.find('"', at + 9) - at - 9));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"announce", "watching", "observer", "result", "loop",
                                               "unload", "detached"}))
        << out;
    EXPECT_NE(events[2].find("\"name\":\"attributeChanged\""), std::string::npos);
    EXPECT_NE(events[2].find("\"path\":\"Functions/Run\""), std::string::npos);
    EXPECT_NE(events[2].find("\"itemName\":\"last\""), std::string::npos);
}

TEST(HostSampleTool, CtrlCEndsAWatchWithADetach) {
    SampleCopy copy;
    ASSERT_TRUE(copy.ok());
    ChildProcess p({KVQ_BIN_DIR "/kvq-host", "watch", copy.path(), "--seconds", "300"});
    ASSERT_TRUE(p.started());
    ASSERT_NE(p.waitFor("watching", 30000), "");
    kill(p.pid(), SIGINT);
    EXPECT_NE(p.waitFor("interrupted", 30000), "");
    EXPECT_NE(p.waitFor("unload module", 30000), "");
    EXPECT_NE(p.waitFor("detached", 30000), "");
    EXPECT_EQ(p.wait(30000), 0);
}

} // namespace
