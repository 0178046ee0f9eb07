// The host library's recording host entry, fed records directly: answers,
// copies of records and texts, routing by context word, host observers.
#include "lib/plugin.h"
#include "platform/windows.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

using kvqhost::Call;
using kvqhost::Handle;
using kvqhost::kvqHostEntry;
using kvqhost::Plugin;

namespace {

EntryMessage record(uint32_t context, uint16_t category, int32_t operation, uint32_t object = 0,
                    std::initializer_list<uint32_t> a = {}) {
    EntryMessage m{};
    std::memset(m.result, 0xAB, sizeof m.result);
    m.context = context;
    m.category = category;
    m.operation = operation;
    m.object = object;
    int i = 0;
    for (uint32_t v : a)
        m.a[i++] = v;
    return m;
}

uint32_t resultWord(const EntryMessage& m, int offset = 0) {
    uint32_t v;
    std::memcpy(&v, m.result + offset, 4);
    return v;
}

// A plug-in entry that only knows proxies: (3,-1) answers a new proxy handle,
// (3,1) is counted. Everything else is counted as detach when it is (1,2).
struct FakeProxies {
    static inline uint32_t nextProxy = 0x5000;
    static inline std::vector<EntryMessage> received;
    static void entry(EntryMessage* m) {
        received.push_back(*m);
        if (m->category == 3 && m->operation == -1) {
            uint32_t proxy = nextProxy++;
            std::memcpy(m->result, &proxy, 4);
        } else if (m->category == 1 && (m->operation == 1 || m->operation == 2)) {
            uint32_t one = 1;
            std::memcpy(m->result, &one, 4);
        }
    }
    static size_t count(uint16_t category, int32_t operation) {
        size_t n = 0;
        for (const auto& m : received)
            n += m.category == category && m.operation == operation;
        return n;
    }
};

TEST(HostEntry, AnswersQueriesAndKeepsCopiesOfRecordsAndTexts) {
    Plugin p(nullptr);
    ASSERT_NE(p.context(), 0u);

    EntryMessage target = record(p.context(), 1, 207);
    kvqHostEntry(&target);
    EXPECT_EQ(resultWord(target), p.hostTarget());
    EXPECT_EQ(resultWord(target, 4), 0xABABABABu) << "only the word is written";

    EntryMessage source = record(p.context(), 1, 11, p.hostTarget());
    kvqHostEntry(&source);
    EXPECT_EQ(resultWord(source), p.hostSource());
    EXPECT_NE(p.hostSource(), p.hostTarget());

    EntryMessage command = record(p.context(), 2, 2, p.hostTarget(),
                                  {p.hostSource(), 0xEEEE, 321, 0, 0x1234, 0, 9, 0});
    kvqHostEntry(&command);
    EXPECT_EQ(resultWord(command), 0u);
    EXPECT_EQ(resultWord(command, 4), 0u);
    EXPECT_EQ(resultWord(command, 8), 0xABABABABu) << "a 64-bit answer leaves bytes 104-111";

    char error[] = "vMessageWnd:init()";
    EntryMessage report = record(p.context(), 1, 304, toHandle(error), {uint32_t(-2)});
    kvqHostEntry(&report);
    char name[] = "NameA";
    EntryMessage renamed = record(p.context(), 3, 3, 0x77, {toHandle(name)});
    kvqHostEntry(&renamed);
    char shortName[] = "b10";
    EntryMessage shortReport =
        record(p.context(), 5, 112, 0x99, {toHandle(shortName), 0xFFFF, 0xEF});
    kvqHostEntry(&shortReport);
    EntryMessage nullText = record(p.context(), 3, 4, 0x77, {0});
    kvqHostEntry(&nullText);
    std::strcpy(error, "overwritten");
    std::strcpy(shortName, "xx");

    std::vector<Call> calls = p.calls();
    ASSERT_EQ(calls.size(), 7u);
    // The copy is the record as it arrived, before the host wrote its answer.
    EXPECT_EQ(resultWord(calls[0].record), 0xABABABABu);
    EXPECT_TRUE(calls[2].is(2, 2));
    EXPECT_EQ(calls[2].commandCode(), 321u);
    EXPECT_EQ(calls[2].commandNode(), 0x1234u);
    EXPECT_EQ(calls[2].arg(0), p.hostSource());
    EXPECT_EQ(calls[2].arg(1), 0xEEEEu);
    EXPECT_EQ(calls[3].text.value_or(""), "vMessageWnd:init()");
    EXPECT_EQ(static_cast<int32_t>(calls[3].arg(0)), -2);
    EXPECT_EQ(calls[4].text.value_or(""), "NameA");
    EXPECT_EQ(calls[5].text.value_or(""), "b10");
    EXPECT_EQ(calls[5].arg(2), 0xEFu);
    EXPECT_FALSE(calls[6].text.has_value());
    EXPECT_FALSE(calls[0].text.has_value());
    for (size_t i = 1; i < calls.size(); ++i) {
        EXPECT_GT(calls[i].sequence, calls[i - 1].sequence);
        EXPECT_GE(calls[i].seconds, calls[i - 1].seconds);
    }
    EXPECT_EQ(p.callsSince(5).size(), 2u);
    EXPECT_EQ(p.callsOf(3, 3).size(), 1u);
    p.clearCalls();
    EXPECT_EQ(p.callCount(), 0u);

    kvqHostEntry(nullptr); // nothing to record, nothing to crash on
    EXPECT_EQ(p.callCount(), 0u);
}

TEST(HostEntry, RoutesByContextWordAndKeepsStrangersApart) {
    Plugin a(nullptr), b(nullptr);
    ASSERT_NE(a.context(), b.context());
    ASSERT_NE(a.hostTarget(), b.hostTarget());
    b.setHostSource(0x1111);

    EntryMessage toB = record(b.context(), 1, 11, b.hostTarget());
    kvqHostEntry(&toB);
    EntryMessage toA = record(a.context(), 1, 207);
    kvqHostEntry(&toA);
    EXPECT_EQ(resultWord(toB), 0x1111u);
    EXPECT_EQ(resultWord(toA), a.hostTarget());
    ASSERT_EQ(a.callCount(), 1u);
    ASSERT_EQ(b.callCount(), 1u);
    EXPECT_TRUE(a.calls()[0].is(1, 207));
    EXPECT_TRUE(b.calls()[0].is(1, 11));

    kvqhost::clearUnroutedCalls();
    uint32_t stranger = a.context() ^ b.context() ^ 0x80000000u;
    EntryMessage lost = record(stranger, 1, 207);
    kvqHostEntry(&lost);
    EXPECT_EQ(resultWord(lost), 0u) << "no host target for an unknown plug-in";
    ASSERT_EQ(kvqhost::unroutedCalls().size(), 1u);
    EXPECT_EQ(kvqhost::unroutedCalls()[0].record.context, stranger);
    EXPECT_EQ(a.callCount() + b.callCount(), 2u);

    // A plug-in that is gone no longer receives anything.
    uint32_t oldContext;
    {
        Plugin gone(nullptr);
        oldContext = gone.context();
    }
    EntryMessage late = record(oldContext, 1, 2);
    kvqHostEntry(&late);
    EXPECT_EQ(kvqhost::unroutedCalls().size(), 2u);
}

TEST(HostEntry, ObserverEventsReachTheirHostObserver) {
    FakeProxies::received.clear();
    Handle proxyA, proxyB;
    {
        Plugin p(&FakeProxies::entry);
        proxyA = p.observe(0x100);
        proxyB = p.observe(0x200);
        ASSERT_NE(proxyA, 0u);
        ASSERT_NE(proxyB, proxyA);
        std::vector<kvqhost::HostObserver> observers = p.observers();
        ASSERT_EQ(observers.size(), 2u);

        // The proxy was asked for with object = node and A0 = the host observer.
        const EntryMessage& create = FakeProxies::received.at(0);
        EXPECT_EQ(create.object, 0x100u);
        auto first = p.observerByHandle(create.a[0]);
        ASSERT_TRUE(first.has_value());
        EXPECT_EQ(first->proxy, proxyA);
        EXPECT_EQ(first->node, 0x100u);

        EntryMessage active = record(p.context(), 3, 16, first->handle, {1});
        kvqHostEntry(&active);
        EntryMessage destroyed = record(p.context(), 3, 2, first->handle);
        kvqHostEntry(&destroyed);
        EntryMessage unknown = record(p.context(), 3, 16, 0xDEAD, {0});
        kvqHostEntry(&unknown);

        std::vector<Call> calls = p.calls();
        ASSERT_EQ(calls.size(), 3u);
        EXPECT_TRUE(calls[0].observerKnown);
        EXPECT_EQ(calls[0].observedNode, 0x100u);
        EXPECT_EQ(calls[0].arg(0), 1u);
        EXPECT_TRUE(p.observerByHandle(first->handle)->nodeDestroyed);
        EXPECT_FALSE(calls[2].observerKnown);

        EXPECT_TRUE(p.unobserve(proxyA));
        EXPECT_FALSE(p.unobserve(proxyA)) << "already gone";
        EXPECT_EQ(FakeProxies::count(3, 1), 1u);
        EXPECT_EQ(FakeProxies::received.back().object, proxyA);
        EXPECT_EQ(p.observers().size(), 1u);

        ASSERT_TRUE(p.attach());
        const EntryMessage& attach = FakeProxies::received.back();
        EXPECT_EQ(attach.object, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&kvqHostEntry)));
        EXPECT_EQ(attach.a[0], p.context());
    }
    // Leaving the scope detached the attached plug-in once and ended the last proxy.
    EXPECT_EQ(FakeProxies::count(1, 2), 1u);
    EXPECT_EQ(FakeProxies::count(3, 1), 2u);
    EXPECT_EQ(FakeProxies::received.back().object, proxyB);
}

} // namespace

namespace {

int posted = 0;
intptr_t KVQ_CALLBACK countingProc(plat::Window window, uint32_t message, uintptr_t wParam,
                                   intptr_t lParam) {
    if (message == plat::kWmUser + 7) ++posted;
    return plat::defWindowProc(window, message, wParam, lParam);
}

TEST(HostPump, RunsTheMessageLoopForItsTimeOrUntilDone) {
    using Clock = std::chrono::steady_clock;
    static char instance;
    ASSERT_TRUE(plat::registerClass(&instance, "kvqHostPumpTest", countingProc));
    plat::Window w =
        plat::createWindow("kvqHostPumpTest", "", plat::messageOnlyParent(), &instance, nullptr);
    ASSERT_NE(w, nullptr);

    posted = 0;
    ASSERT_TRUE(plat::postMessage(w, plat::kWmUser + 7, 0, 0));
    auto start = Clock::now();
    EXPECT_TRUE(Plugin::pumpUntil([] { return posted == 1; }, 10000));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << "returns once done";
    EXPECT_FALSE(Plugin::pumpUntil([] { return posted == 2; }, 60));

    start = Clock::now();
    ASSERT_TRUE(plat::postMessage(w, plat::kWmUser + 7, 0, 0));
    ASSERT_TRUE(plat::postMessage(w, plat::kWmUser + 7, 0, 0));
    EXPECT_GE(Plugin::pump(80), 2);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(80)) << "runs for its whole time";
    EXPECT_EQ(posted, 3);
    plat::destroyWindow(w);
}

} // namespace
