// The readiness engine over socket pairs.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>
#include <memory>
#include <vector>

#include "loopback_client.h"
#include "platform/readiness_engine.h"

namespace {

using platform::ReadinessEngine;

// Both ends of a stream socket pair, closed at the end of the test.
struct Pair {
    int watched = -1;
    int peer = -1;
    Pair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) == 0) {
            watched = fds[0];
            peer = fds[1];
        }
    }
    ~Pair() {
        if (watched >= 0)
            ::close(watched);
        if (peer >= 0)
            ::close(peer);
    }
    void write_to_watched() const { ASSERT_EQ(::write(peer, "x", 1), 1); }
};

class ReadinessEngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SysError error;
        engine = ReadinessEngine::create(error);
        ASSERT_NE(engine, nullptr) << error.call;
    }
    std::unique_ptr<ReadinessEngine> engine;
};

TEST_F(ReadinessEngineTest, QtLoopDeliversInputToTheCallback) {
    Pair pair;
    std::uint32_t seen = 0;
    ASSERT_FALSE(
        engine->add(pair.watched, platform::kInput, [&](std::uint32_t e) { seen = e; }).failed());
    pair.write_to_watched();
    ASSERT_TRUE(net_test::wait_until([&] { return seen != 0; }));
    EXPECT_EQ(seen, platform::kInput);
}

TEST_F(ReadinessEngineTest, UnreadInputWithoutInterestNeverWakesButPeerCloseDoes) {
    Pair pair;
    std::vector<std::uint32_t> seen;
    ASSERT_FALSE(
        engine
            ->add(pair.watched, platform::kPeerClosed, [&](std::uint32_t e) { seen.push_back(e); })
            .failed());
    pair.write_to_watched();
    engine->dispatch();
    EXPECT_TRUE(seen.empty());

    ::shutdown(pair.peer, SHUT_WR);
    engine->dispatch();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0] & platform::kPeerClosed);
    EXPECT_FALSE(seen[0] & platform::kInput);
}

TEST_F(ReadinessEngineTest, ModifyToNothingSilencesAReadyDescriptor) {
    Pair pair;
    int calls = 0;
    ASSERT_FALSE(
        engine->add(pair.watched, platform::kInput, [&](std::uint32_t) { ++calls; }).failed());
    pair.write_to_watched();
    ASSERT_FALSE(engine->modify(pair.watched, 0).failed());
    engine->dispatch();
    EXPECT_EQ(calls, 0);
    ASSERT_FALSE(engine->modify(pair.watched, platform::kInput).failed());
    engine->dispatch();
    EXPECT_EQ(calls, 1);
}

// Events fetched in one batch are re-checked: a callback that removes or
// replaces another registration keeps the stale event from being delivered.
TEST_F(ReadinessEngineTest, EventsOfRemovedOrReplacedRegistrationsAreSkipped) {
    struct Row {
        const char* name;
        bool re_add;
    };
    for (const Row row : {Row{"removed", false}, Row{"replaced", true}}) {
        SCOPED_TRACE(row.name);
        Pair first;
        Pair second;
        int first_calls = 0;
        int old_second_calls = 0;
        int stale_calls = 0;
        auto on_first = [&](std::uint32_t) {
            ++first_calls;
            engine->remove(first.watched);
            engine->remove(second.watched);
            if (row.re_add) {
                engine->add(second.watched, platform::kInput,
                            [&](std::uint32_t) { ++stale_calls; });
            }
        };
        auto on_second = [&](std::uint32_t) {
            ++old_second_calls;
            engine->remove(first.watched);
            engine->remove(second.watched);
            if (row.re_add) {
                engine->add(first.watched, platform::kInput, [&](std::uint32_t) { ++stale_calls; });
            }
        };
        ASSERT_FALSE(engine->add(first.watched, platform::kInput, on_first).failed());
        ASSERT_FALSE(engine->add(second.watched, platform::kInput, on_second).failed());
        first.write_to_watched();
        second.write_to_watched();
        engine->dispatch();
        // Whichever came first removed the other before its event was handled.
        EXPECT_EQ(first_calls + old_second_calls, 1);
        EXPECT_EQ(stale_calls, 0);
        engine->remove(first.watched);
        engine->remove(second.watched);
    }
}

TEST_F(ReadinessEngineTest, AddingAClosedDescriptorFailsNamingEpollCtl) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    ::close(fds[1]);
    const platform::SysError error = engine->add(fds[0], platform::kInput, [](std::uint32_t) {});
    EXPECT_EQ(error.number, EBADF);
    EXPECT_STREQ(error.call, "epoll_ctl");
}

}  // namespace
