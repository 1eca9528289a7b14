// The component on a real pseudo-terminal: what the line holds, bytes both ways, exclusive use,
// failures to open, a vanishing line, and nothing left behind after many connections.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTest>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "ZComm/comm_thread.h"
#include "ZComm/zcomm.h"
#include "platform/serial_termios2.h"
#include "tests/zcomm/pty.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using zcomm_test::Events;
using zcomm_test::Pty;
using zcomm_test::wait_until;

// The main window's instance: software flow control off, errors replaced by '~'.
void load_main_window_values(TZComm& c) {
    c.MaxReadLength = 1024;
    c.EnableParity = false;
    c.XOuputFlowCtl = false;
    c.XInputFlowCtl = false;
    c.ErrorReplace = true;
    c.AbortOnError = false;
}

class PortTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        load_main_window_values(comm);
        comm.Port = pty.path();
    }

    platform::TermiosImage line() const {
        platform::TermiosImage im;
        EXPECT_EQ(platform::read_termios2(pty.slave(), im), 0);
        return im;
    }

    // Waits until `n` received bytes are queued on the component's side.
    bool queued(std::uint32_t n) {
        return wait_until([&] { return comm.GetQCountIn() >= n; }, Events::Hold);
    }

    Pty pty;
    TZComm comm{nullptr};
};

TEST_F(PortTest, TheLineHoldsTheSettings) {
    struct Row {
        const char* name;
        std::function<void(TZComm&)> set;
        std::uint32_t speed;
        std::uint32_t cflag_on, cflag_off, iflag_on, iflag_off;
    };
    const std::vector<Row> rows = {
        {"main window 9600 8N1", [](TZComm&) {}, 9600, CREAD | CLOCAL, CSTOPB | CRTSCTS | CMSPAR, 0,
         IXON | IXOFF | ICRNL},
        {"128000 exactly", [](TZComm& c) { c.BaudRate = 128000; }, 128000, 0, 0, 0, 0},
        {"256000 with two stop bits", [](TZComm& c) { c.BaudRate = 256000, c.StopBits = stop2; },
         256000, CSTOPB, 0, 0, 0},
        {"space parity keeps CMSPAR", [](TZComm& c) { c.Parity = space_parity; }, 9600, CMSPAR,
         PARODD, 0, 0},
        {"mark parity", [](TZComm& c) { c.Parity = mark_parity; }, 9600, CMSPAR | PARODD, 0, 0, 0},
        {"software flow control", [](TZComm& c) { c.XOuputFlowCtl = c.XInputFlowCtl = true; }, 9600,
         0, 0, IXON | IXOFF, 0},
        {"CTS flow control", [](TZComm& c) { c.CTSFlowCtl = true; }, 9600, CRTSCTS, 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TZComm c(nullptr);
        load_main_window_values(c);
        c.Port = pty.path();
        row.set(c);
        ASSERT_NE(c.OpenConnection(), 0);
        const platform::TermiosImage im = line();
        EXPECT_EQ(im.speed, row.speed);
        EXPECT_EQ(im.cflag & row.cflag_on, row.cflag_on);
        EXPECT_EQ(im.cflag & row.cflag_off, 0u);
        EXPECT_EQ(im.iflag & row.iflag_on, row.iflag_on);
        EXPECT_EQ(im.iflag & row.iflag_off, 0u);
        EXPECT_EQ(im.lflag & (ICANON | ECHO), 0u);
        EXPECT_EQ(c.CloseConnection(), 1);
    }
}

TEST_F(PortTest, ReconfiguredWhileOpenAndRefusalsLeaveTheLineAlone) {
    ASSERT_NE(comm.OpenConnection(), 0);
    comm.BaudRate = 256000;
    ASSERT_EQ(comm.SetConnection(), 1);
    EXPECT_EQ(line().speed, 256000u);

    comm.BaudRate = 19200;
    comm.DataBits = databits4;
    EXPECT_EQ(comm.SetConnection(), 0);
    EXPECT_EQ(comm.Connected(), 1);
    EXPECT_EQ(comm.DataBits, databits4) << "properties keep their new values";
    EXPECT_EQ(line().speed, 256000u) << "a refused record changes nothing";

    comm.DataBits = databits8;
    comm.DSRFlowCtl = true;
    EXPECT_EQ(comm.SetConnection(), 0);
    comm.DSRFlowCtl = false;
    EXPECT_EQ(comm.SetConnection(), 1);
    EXPECT_EQ(line().speed, 19200u);
}

TEST_F(PortTest, SetFlowCtlSwitchesSoftwareFlowUntilTheNextSetConnection) {
    ASSERT_NE(comm.OpenConnection(), 0);
    EXPECT_EQ(line().iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(comm.SetFlowCtl(1), 1);
    EXPECT_EQ(line().iflag & (IXON | IXOFF), std::uint32_t{IXON | IXOFF});
    EXPECT_FALSE(comm.XOuputFlowCtl);
    EXPECT_EQ(comm.SetConnection(), 1);
    EXPECT_EQ(line().iflag & (IXON | IXOFF), 0u);
}

TEST_F(PortTest, TimeoutsAreKeptAndReadBack) {
    ASSERT_NE(comm.OpenConnection(), 0);
    comm.TimeoutReadConstant = 42;
    ASSERT_EQ(comm.SetTimeouts(), 1);
    comm.TimeoutReadConstant = 0;
    comm.TimeoutWriteConstant = 0;
    ASSERT_EQ(comm.GetTimeouts(), 1);
    EXPECT_EQ(comm.TimeoutReadConstant, 42);
    EXPECT_EQ(comm.TimeoutWriteConstant, 5000);
    EXPECT_EQ(comm.TimeoutReadInterval, 65535);
}

TEST_F(PortTest, ATelegramArrivesByteExact) {
    const std::string telegram = "$PXTQSSB,123456.789,1.000,-2.500,3.250,1*5A\r\n";
    ASSERT_NE(comm.OpenConnection(), 0);
    EXPECT_EQ(comm.WriteComm(telegram.data(), static_cast<std::int32_t>(telegram.size())), 1);
    EXPECT_EQ(pty.receive(telegram.size()), telegram);
    EXPECT_EQ(comm.WriteComm(telegram.data(), 0), 0) << "no byte, nothing written";
}

TEST_F(PortTest, WritesTimeOutWhenTheOtherSideNeverReads) {
    comm.set_write_wait(20ms);
    ASSERT_NE(comm.OpenConnection(), 0);
    std::size_t written = 0;
    while (comm.WriteCommByte('x') == 1 && written < (1u << 22)) {
        ++written;
    }
    ASSERT_LT(written, 1u << 22) << "the line never filled up";
    EXPECT_EQ(comm.WriteComm("abc", 3), 0);
    // Once the other side takes some, writing goes on.
    EXPECT_EQ(pty.receive(written).size(), written);
    EXPECT_EQ(comm.WriteCommByte('y'), 1);
}

TEST_F(PortTest, XoffFromTheOtherSideHoldsWritesUntilXon) {
    comm.XOuputFlowCtl = true;
    comm.set_write_wait(20ms);
    ASSERT_NE(comm.OpenConnection(), 0);
    ASSERT_TRUE(pty.send("\x13"));
    // The stop takes effect when the line discipline gets to it.
    ASSERT_TRUE(wait_until([&] { return comm.WriteCommByte('a') == 0; }, Events::Hold));
    pty.receive(1 << 16, 100ms);
    ASSERT_TRUE(pty.send("\x11"));
    comm.set_write_wait(TZComm::kWriteWait);
    EXPECT_EQ(comm.WriteCommByte('z'), 1);
    EXPECT_EQ(pty.receive(1), "z");
}

TEST_F(PortTest, ReadCommTakesOnlyWhatIsQueued) {
    ASSERT_NE(comm.OpenConnection(), 0);
    char buf[16] = {};
    EXPECT_EQ(comm.ReadComm(buf, 10), 0) << "nothing queued";
    ASSERT_TRUE(pty.send("abcd"));
    ASSERT_TRUE(queued(4));
    EXPECT_EQ(comm.ReadComm(buf, 2), 2);
    EXPECT_EQ(std::string(buf, 2), "ab");
    EXPECT_EQ(comm.ReadComm(buf, 10), 2);
    EXPECT_EQ(std::string(buf, 2), "cd");
    EXPECT_EQ(comm.ReadComm(buf, 10), 0);
    EXPECT_EQ(comm.ReadComm(buf, -1), 0);
}

TEST_F(PortTest, ReceivedBytesPassTheErrorAndNulRules) {
    comm.DiscardNULL = true;
    ASSERT_NE(comm.OpenConnection(), 0);
    // With error replacement on, the driver doubles a received 0xFF; the component undoes it.
    ASSERT_TRUE(pty.send("a\xff\0b"s));
    ASSERT_TRUE(queued(4));
    char buf[16] = {};
    const int n = comm.ReadComm(buf, sizeof buf);
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(n)),
              "a\xff"
              "b");
}

TEST_F(PortTest, TextStopsAtTheFirstZeroByte) {
    ASSERT_NE(comm.OpenConnection(), 0);
    EXPECT_EQ(comm.GetText(), "");
    ASSERT_TRUE(pty.send("ab\0c"s));
    ASSERT_TRUE(queued(4));
    EXPECT_EQ(comm.GetText(), "ab");
    EXPECT_EQ(comm.GetQCountIn(), 0u) << "all four bytes leave the queue";

    comm.MaxReadLength = 0;
    ASSERT_TRUE(pty.send("xy"));
    ASSERT_TRUE(queued(2));
    EXPECT_EQ(comm.GetText(), "");
    EXPECT_EQ(comm.GetQCountIn(), 2u);

    comm.SetText("hi");
    EXPECT_EQ(pty.receive(2), "hi");
    comm.SetText("a\0b"s);
    EXPECT_EQ(pty.receive(3), "a\0b"s) << "a zero byte inside is sent at full length";
}

TEST_F(PortTest, PurgeAndLineControl) {
    ASSERT_NE(comm.OpenConnection(), 0);
    ASSERT_TRUE(pty.send("abc"));
    ASSERT_TRUE(queued(3));
    EXPECT_EQ(comm.PurgeCommPort(platform::kPurgeRxClear), 1);
    EXPECT_EQ(comm.GetQCountIn(), 0u);
    EXPECT_EQ(comm.PurgeCommPort(0x100), 0) << "unknown purge flags";
    EXPECT_EQ(comm.GetTransmissionStatus(), 0u);
    // A pseudo-terminal has no modem lines: refused, and the port still works.
    EXPECT_EQ(comm.SetDTR(), 0);
    EXPECT_EQ(comm.ClearRTS(), 0);
    EXPECT_EQ(comm.EscapeComm(platform::kResetDev), 0);
    EXPECT_EQ(comm.WriteComm("ok", 2), 1);
    EXPECT_EQ(pty.receive(2), "ok");
}

TEST_F(PortTest, ASecondOpenerIsRefused) {
    ASSERT_NE(comm.OpenConnection(), 0);
    TZComm other(nullptr);
    other.Port = pty.path();
    EXPECT_EQ(other.OpenConnection(), 0);
    EXPECT_EQ(other.Connected(), 0);
    EXPECT_EQ(other.comm_thread(), nullptr);
    EXPECT_EQ(comm.OpenConnection(), 0) << "already open";
    EXPECT_EQ(comm.Connected(), 1);
    EXPECT_EQ(comm.WriteComm("k", 1), 1);
    EXPECT_EQ(pty.receive(1), "k");
    comm.CloseConnection();
    EXPECT_NE(other.OpenConnection(), 0) << "free again after close";
}

// Another program's exclusive mark without a lock: root passes it at open and must still keep off.
TEST_F(PortTest, APortAnotherProgramHoldsExclusivelyIsRefused) {
    ASSERT_EQ(ioctl(pty.slave(), TIOCEXCL), 0);
    EXPECT_EQ(comm.OpenConnection(), 0);
    EXPECT_EQ(comm.Connected(), 0);
    EXPECT_EQ(comm.comm_thread(), nullptr);
    int held = 0;
    ASSERT_EQ(ioctl(pty.slave(), TIOCGEXCL, &held), 0);
    EXPECT_NE(held, 0) << "the holder keeps its mark";

    ASSERT_EQ(ioctl(pty.slave(), TIOCNXCL), 0);
    EXPECT_NE(comm.OpenConnection(), 0) << "free once the holder lets go";
}

TEST(PortOpen, FailuresChangeNothing) {
    char dir_template[] = "/tmp/zcXXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string locked = std::string(dir_template) + "/t";
    {
        FILE* f = fopen(locked.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fclose(f);
        chmod(locked.c_str(), 0);
    }
    struct Row {
        const char* name;
        std::string port;
    };
    std::vector<Row> rows = {
        {"missing device", "/nonexist/tty0"},
        {"not a terminal", "/dev/null"},
        {"longer than 15 characters", "/dev/pts/1234567"},
        {"empty", ""},
    };
    if (geteuid() != 0) {
        rows.push_back({"permission denied", locked});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TZComm c(nullptr);
        c.Port = row.port;
        EXPECT_EQ(c.OpenConnection(), 0);
        EXPECT_EQ(c.Connected(), 0);
        EXPECT_EQ(c.comm_thread(), nullptr);
        EXPECT_EQ(c.WriteComm("x", 1), 1) << "refused at once, not timed out";
    }
    unlink(locked.c_str());
    rmdir(dir_template);
}

TEST_F(PortTest, AVanishedLineFailsQuietlyAndCanBeReplaced) {
    comm.set_write_wait(200ms);
    ASSERT_NE(comm.OpenConnection(), 0);
    const TCommThread* watcher = comm.comm_thread();
    ASSERT_TRUE(
        wait_until([&] { return watcher->phase() == TCommThread::Phase::WaitingForEvent; }));
    pty.close_master();
    EXPECT_EQ(comm.WriteComm("abc", 3), 1) << "refused at once";
    // The hang-up may wake the watcher once; it must then stay asleep.
    QTest::qWait(50);
    const auto wakeups = watcher->wakeups();
    QTest::qWait(100);
    EXPECT_EQ(watcher->wakeups(), wakeups);
    EXPECT_NE(watcher->phase(), TCommThread::Phase::WaitingForAck);

    EXPECT_EQ(comm.CloseConnection(), 1);
    EXPECT_TRUE(wait_until([&] { return watcher->Finished(); }));
    Pty replacement;
    comm.Port = replacement.path();
    ASSERT_NE(comm.OpenConnection(), 0);
    EXPECT_EQ(comm.WriteComm("ok", 2), 1);
    EXPECT_EQ(replacement.receive(2), "ok");
}

TEST_F(PortTest, ReopeningMakesANewWatcherEachTime) {
    int calls = 0;
    comm.OnDataAvailable = [&](TZComm*) { ++calls; };
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_NE(comm.OpenConnection(), 0);
        const TCommThread* watcher = comm.comm_thread();
        ASSERT_NE(watcher, nullptr);
        EXPECT_EQ(watcher->posts(), 0u);
        EXPECT_FALSE(watcher->Finished());
        ASSERT_TRUE(pty.send("r"));
        EXPECT_TRUE(wait_until([&] { return calls == round; }));
        char c;
        EXPECT_EQ(comm.ReadComm(&c, 1), 1);
        EXPECT_EQ(comm.CloseConnection(), 1);
        EXPECT_EQ(comm.Connected(), 0);
        EXPECT_TRUE(wait_until([&] { return watcher->Finished(); }));
    }
}

TEST_F(PortTest, ManyConnectionsLeaveNoDescriptorOrThreadBehind) {
    ASSERT_NE(comm.OpenConnection(), 0);
    comm.CloseConnection();
    ASSERT_TRUE(wait_until([&] { return comm.comm_thread()->Finished(); }));
    const int fds = zcomm_test::open_descriptors();
    const int threads = zcomm_test::running_threads();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_NE(comm.OpenConnection(), 0) << "cycle " << i;
        ASSERT_EQ(comm.CloseConnection(), 1);
    }
    EXPECT_TRUE(wait_until([&] { return comm.comm_thread()->Finished(); }));
    EXPECT_TRUE(wait_until([&] { return zcomm_test::running_threads() <= threads; }));
    EXPECT_EQ(zcomm_test::running_threads(), threads);
    EXPECT_EQ(zcomm_test::open_descriptors(), fds);
}

}  // namespace
