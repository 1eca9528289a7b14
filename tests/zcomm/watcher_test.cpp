// The watcher thread and the component's notifications: one at a time, on the UI thread, none
// after closing, and no spinning on input that nobody reads.
#include <gtest/gtest.h>

#include <QTest>
#include <chrono>
#include <thread>
#include <vector>

#include "ZComm/comm_thread.h"
#include "ZComm/zcomm.h"
#include "tests/zcomm/pty.h"

namespace {

using zcomm_test::Events;
using zcomm_test::Pty;
using zcomm_test::wait_until;
using Phase = TCommThread::Phase;

class WatcherTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        comm.Port = pty.path();
        comm.XOuputFlowCtl = comm.XInputFlowCtl = false;
    }

    void open_counting() {
        comm.OnDataAvailable = [this](TZComm* sender) {
            senders.push_back(sender);
            threads.push_back(std::this_thread::get_id());
        };
        ASSERT_NE(comm.OpenConnection(), 0);
        watcher = comm.comm_thread();
        ASSERT_NE(watcher, nullptr);
    }

    // Waits, without handling the notification, until the watcher has posted `n`.
    bool posted(std::uint64_t n) {
        return wait_until([&] { return watcher->posts() >= n; }, Events::Hold);
    }

    Pty pty;
    TZComm comm{nullptr};
    const TCommThread* watcher = nullptr;
    std::vector<TZComm*> senders;
    std::vector<std::thread::id> threads;
};

TEST_F(WatcherTest, EachArrivalCallsTheHandlerOnceOnTheUiThread) {
    open_counting();
    const auto ui = std::this_thread::get_id();
    for (std::size_t i = 1; i <= 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(pty.send("x"));
        ASSERT_TRUE(wait_until([&] { return senders.size() == i; }));
        ASSERT_TRUE(wait_until([&] { return watcher->phase() == Phase::WaitingForEvent; }));
    }
    EXPECT_EQ(watcher->posts(), 3u);
    for (std::size_t i = 0; i < senders.size(); ++i) {
        EXPECT_EQ(senders[i], &comm);
        EXPECT_EQ(threads[i], ui);
    }
}

TEST_F(WatcherTest, NoFurtherPostWhileOneIsOutstanding) {
    open_counting();
    ASSERT_TRUE(pty.send("a"));
    ASSERT_TRUE(posted(1));
    ASSERT_TRUE(pty.send("b"));
    // The watcher sees the arrival and must wait for the acknowledgement before posting.
    ASSERT_TRUE(wait_until([&] { return watcher->phase() == Phase::WaitingForAck; }, Events::Hold));
    EXPECT_EQ(watcher->posts(), 1u);
    EXPECT_TRUE(senders.empty());

    ASSERT_TRUE(wait_until([&] { return !senders.empty(); }));
    EXPECT_TRUE(wait_until([&] { return watcher->posts() == 2; }))
        << "the next post follows the acknowledgement";
    EXPECT_TRUE(wait_until([&] { return senders.size() == 2; }));
}

TEST_F(WatcherTest, WithoutAHandlerNotificationsAreStillAcknowledged) {
    ASSERT_NE(comm.OpenConnection(), 0);
    watcher = comm.comm_thread();
    ASSERT_TRUE(pty.send("a"));
    ASSERT_TRUE(wait_until([&] { return watcher->posts() == 1; }));
    ASSERT_TRUE(wait_until([&] { return watcher->phase() == Phase::WaitingForEvent; }));
    ASSERT_TRUE(pty.send("b"));
    EXPECT_TRUE(wait_until([&] { return watcher->posts() == 2; }));
}

TEST_F(WatcherTest, NothingIsHandledAfterCloseConnection) {
    open_counting();
    ASSERT_TRUE(pty.send("a"));
    ASSERT_TRUE(posted(1));
    EXPECT_EQ(comm.CloseConnection(), 1);
    EXPECT_TRUE(wait_until([&] { return watcher->Finished(); }));
    QCoreApplication::processEvents();
    QTest::qWait(20);
    EXPECT_TRUE(senders.empty());
    TMessage m;
    m.Msg = WM_USER;
    EXPECT_EQ(comm.MessageCOMM(m), 0);
    EXPECT_TRUE(senders.empty());
}

TEST_F(WatcherTest, ClosingWhileANotificationIsOutstandingEndsTheWatcher) {
    open_counting();
    ASSERT_TRUE(pty.send("a"));
    ASSERT_TRUE(posted(1));
    ASSERT_TRUE(pty.send("b"));
    ASSERT_TRUE(wait_until([&] { return watcher->phase() == Phase::WaitingForAck; }, Events::Hold));
    comm.CloseConnection();
    EXPECT_TRUE(wait_until([&] { return watcher->Finished(); }, Events::Hold));
}

TEST_F(WatcherTest, UnreadInputDoesNotMakeItSpin) {
    ASSERT_NE(comm.OpenConnection(), 0);
    watcher = comm.comm_thread();
    ASSERT_TRUE(pty.send(std::string(100, 'u')));
    ASSERT_TRUE(wait_until([&] { return comm.GetQCountIn() == 100; }));
    ASSERT_TRUE(wait_until(
        [&] { return watcher->phase() == Phase::WaitingForEvent && watcher->posts() >= 1; }));
    const auto wakeups = watcher->wakeups();
    QTest::qWait(100);
    EXPECT_EQ(watcher->wakeups(), wakeups);
    EXPECT_EQ(comm.GetQCountIn(), 100u) << "the input is still unread";
}

TEST_F(WatcherTest, MessageComDispatchesOnlyWhileConnected) {
    open_counting();
    TMessage m;
    m.Msg = WM_USER;
    EXPECT_EQ(comm.MessageCOMM(m), 1);
    ASSERT_EQ(senders.size(), 1u);
    EXPECT_EQ(senders[0], &comm);
    comm.CloseConnection();
    EXPECT_EQ(comm.MessageCOMM(m), 0);
    EXPECT_EQ(senders.size(), 1u);
}

TEST(HiddenWindow, ConsentsToEndingTheSessionAndAnswersZeroOtherwise) {
    struct Row {
        const char* name;
        std::uint32_t msg;
        std::intptr_t answer;
    };
    const Row rows[] = {
        {"WM_QUERYENDSESSION", WM_QUERYENDSESSION, 1},
        {"WM_ENDSESSION", WM_ENDSESSION, 1},
        {"WM_USER", WM_USER, 0},
        {"WM_CLOSE", 0x0010, 0},
        {"message 0", 0, 0},
    };
    TZComm comm(nullptr);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TMessage m;
        m.Msg = row.msg;
        comm.WindowMessageProc(m);
        EXPECT_EQ(m.Result, row.answer);
    }
}

}  // namespace
