// The broadcast server against real loopback clients.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "loopback_client.h"
#include "net/server_socket.h"

namespace {

using net::TCustomWinSocket;
using net::TErrorEvent;
using net_test::LoopbackClient;
using net_test::numbered_line;
using net_test::wait_until;

struct ReportedError {
    TCustomWinSocket* socket;
    TErrorEvent kind;
    int code;
};

std::uint16_t peer_port(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// Inode of the socket behind fd, to find it later in /proc/self/fd.
ino_t socket_inode(int fd) {
    struct stat status {};
    ::fstat(fd, &status);
    return status.st_ino;
}

bool process_holds_socket(ino_t inode) {
    const std::string wanted = "socket:[" + std::to_string(inode) + "]";
    DIR* dir = ::opendir("/proc/self/fd");
    bool found = false;
    while (dirent* entry = ::readdir(dir)) {
        char target[256] = {};
        const std::string path = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        if (n > 0 && wanted == target) {
            found = true;
        }
    }
    ::closedir(dir);
    return found;
}

// The lowest descriptor number not in use: a soft limit of this value makes the
// next descriptor fail with EMFILE.
rlim_t lowest_free_descriptor() {
    const int fd = ::dup(0);
    ::close(fd);
    return static_cast<rlim_t>(fd);
}

// Lowers the soft limit of open files for the scope of a test.
class DescriptorLimit {
  public:
    explicit DescriptorLimit(rlim_t soft) {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = soft;
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~DescriptorLimit() { restore(); }
    void restore() { ::setrlimit(RLIMIT_NOFILE, &saved_); }

  private:
    rlimit saved_{};
};

class ServerSocketTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The program's handler: close on a connect error, absorb everything.
        server.OnClientError = [this](QObject*, TCustomWinSocket* socket, TErrorEvent kind,
                                      int& code) {
            errors.push_back({socket, kind, code});
            if (kind == net::eeConnect) {
                socket->close();
            }
            code = 0;
        };
        server.setPort(0);
        server.setActive(true);
        port = server.bound_port();
        ASSERT_NE(port, 0);
    }

    // A client the server has accepted (its connection is the newest entry).
    std::unique_ptr<LoopbackClient> accepted_client(int receive_buffer = 0) {
        const int before = server.active_connections();
        auto client = std::make_unique<LoopbackClient>(port, receive_buffer);
        EXPECT_TRUE(client->ok());
        EXPECT_TRUE(wait_until([&] { return server.active_connections() == before + 1; }));
        return client;
    }

    void broadcast(const std::string& text) { net::write_to_every_client(server, text.c_str()); }

    net::TServerSocket server;
    std::vector<ReportedError> errors;
    std::uint16_t port = 0;
};

TEST_F(ServerSocketTest, TwoClientsGetIdenticalBytesAndTheOlderIsListedFirst) {
    auto older = accepted_client();
    auto newer = accepted_client();
    ASSERT_EQ(server.active_connections(), 2);
    EXPECT_EQ(peer_port(server.connection(0)->handle()), older->local_port());
    EXPECT_EQ(peer_port(server.connection(1)->handle()), newer->local_port());

    std::string expected;
    for (int i = 0; i < 3; ++i) {
        broadcast(numbered_line(i));
        expected += numbered_line(i);
    }
    ASSERT_TRUE(older->wait_for_bytes(expected.size()));
    ASSERT_TRUE(newer->wait_for_bytes(expected.size()));
    EXPECT_EQ(older->received(), expected);
    EXPECT_EQ(newer->received(), expected);
    EXPECT_TRUE(errors.empty());
}

TEST_F(ServerSocketTest, LateClientGetsTheNextTelegramAndNoneBefore) {
    auto early = accepted_client();
    broadcast(numbered_line(1));
    auto late = accepted_client();
    broadcast(numbered_line(2));

    ASSERT_TRUE(early->wait_for_bytes(2 * numbered_line(1).size()));
    ASSERT_TRUE(late->wait_for_bytes(numbered_line(2).size()));
    EXPECT_EQ(early->received(), numbered_line(1) + numbered_line(2));
    EXPECT_EQ(late->received(), numbered_line(2));
}

TEST_F(ServerSocketTest, ClientDataGetsNoReplyAndStaysUnread) {
    auto talker = accepted_client();
    const std::string garbage = "$GARBAGE,1,2,3*00\r\nhello?\r\n";
    ASSERT_EQ(talker->send_without_blocking(garbage), garbage.size());
    net_test::run_loop_passes(20);
    EXPECT_TRUE(talker->drain());
    EXPECT_EQ(talker->received(), "") << "the server answered client data";

    broadcast(numbered_line(7));
    ASSERT_TRUE(talker->wait_for_bytes(numbered_line(7).size()));
    EXPECT_EQ(talker->received(), numbered_line(7));

    int unread = 0;
    ASSERT_EQ(::ioctl(server.connection(0)->handle(), FIONREAD, &unread), 0);
    EXPECT_EQ(unread, static_cast<int>(garbage.size())) << "the server read client data";
    EXPECT_EQ(server.active_connections(), 1);
}

// A 99-character line (the longest telegram), distinct per sequence number.
std::string long_line(int sequence) {
    std::string line = numbered_line(sequence);
    line.insert(line.size() - 2, 99 - line.size(), '.');
    return line;
}

int queued_bytes(int fd, unsigned long request) {
    int bytes = 0;
    ::ioctl(fd, request, &bytes);
    return bytes;
}

TEST_F(ServerSocketTest, StuckClientLosesTelegramsButHoldsNobodyUp) {
    auto reader = accepted_client();
    auto stuck = accepted_client(4096);
    const int stuck_fd = server.connection(1)->handle();
    std::string expected;
    // On loopback every byte taken for the stuck client sits either in the
    // server's queue of unsent data or in the client's receive queue; once
    // their sum falls a line behind what was broadcast, telegrams were dropped.
    std::size_t queued = 0;
    int sequence = 0;
    for (; sequence < 400000 && queued + 99 > expected.size(); ++sequence) {
        broadcast(long_line(sequence));
        expected += long_line(sequence);
        queued = static_cast<std::size_t>(queued_bytes(stuck_fd, SIOCOUTQNSD) +
                                          queued_bytes(stuck->fd(), FIONREAD));
        if (sequence % 100 == 99) {
            ASSERT_TRUE(reader->drain());
        }
    }
    ASSERT_LE(queued + 99, expected.size()) << "the stuck client's buffers never filled";
    // A few more telegrams while it is full: dropped for it, delivered to the reader.
    for (int more = 0; more < 100; ++more, ++sequence) {
        broadcast(long_line(sequence));
        expected += long_line(sequence);
    }
    ASSERT_TRUE(reader->wait_for_bytes(expected.size()));
    EXPECT_EQ(reader->received(), expected);
    EXPECT_EQ(server.active_connections(), 2);
    EXPECT_TRUE(server.connection(1)->connected()) << "a full client must not be dropped";
    EXPECT_TRUE(errors.empty());

    ASSERT_TRUE(stuck->drain());
    const std::string& got = stuck->received();
    EXPECT_LT(got.size(), expected.size());
    // Whole lines in order, at most one of them cut short.
    std::istringstream lines(got);
    std::string line;
    int last = -1;
    int cut = 0;
    while (std::getline(lines, line, '\n')) {
        if (line.size() != 98 || line.rfind("line ", 0) != 0) {
            ++cut;
            continue;
        }
        const int number = std::stoi(line.substr(5, 6));
        EXPECT_GT(number, last);
        last = number;
    }
    EXPECT_LE(cut, 1);
    EXPECT_GT(last, 0);
}

struct ResetCase {
    const char* name;
    bool loop_runs_before_telegram;
    std::vector<TErrorEvent> kinds;
};

void PrintTo(const ResetCase& row, std::ostream* out) {
    *out << row.name;
}

class ResetClientTest : public ServerSocketTest, public ::testing::WithParamInterface<ResetCase> {};

TEST_P(ResetClientTest, NextSendFailsSilentlyAndLaterClientsStillReceive) {
    auto first = accepted_client();
    auto resetting = accepted_client();
    auto last = accepted_client();
    TCustomWinSocket* reset_connection = server.connection(1);
    resetting->reset();
    if (GetParam().loop_runs_before_telegram) {
        ASSERT_TRUE(wait_until([&] { return !errors.empty(); }));
        EXPECT_TRUE(reset_connection->connected()) << "a reset alone must not close it";
    }

    broadcast(numbered_line(1));
    // Closed at once, removed only after the current event.
    EXPECT_FALSE(reset_connection->connected());
    EXPECT_EQ(server.active_connections(), 3);
    EXPECT_EQ(server.connection(1)->send_text("x"), 0) << "a closed connection sends nothing";
    ASSERT_TRUE(first->wait_for_bytes(numbered_line(1).size()));
    ASSERT_TRUE(last->wait_for_bytes(numbered_line(1).size()));
    EXPECT_EQ(last->received(), numbered_line(1));

    ASSERT_EQ(errors.size(), GetParam().kinds.size());
    for (std::size_t i = 0; i < errors.size(); ++i) {
        EXPECT_EQ(errors[i].kind, GetParam().kinds[i]);
        EXPECT_EQ(errors[i].socket, reset_connection);
        EXPECT_NE(errors[i].code, 0);
    }
    EXPECT_TRUE(wait_until([&] { return server.active_connections() == 2; }));
    EXPECT_EQ(peer_port(server.connection(1)->handle()), last->local_port());
}

INSTANTIATE_TEST_SUITE_P(
    Reset, ResetClientTest,
    ::testing::Values(ResetCase{"FoundBySend", false, {net::eeSend}},
                      ResetCase{"NoticedFirst", true, {net::eeDisconnect, net::eeSend}}),
    [](const auto& info) { return std::string(info.param.name); });

struct CloseCase {
    const char* name;
    void (*act)(LoopbackClient&);
};

void PrintTo(const CloseCase& row, std::ostream* out) {
    *out << row.name;
}

class OrderlyCloseTest : public ServerSocketTest,
                         public ::testing::WithParamInterface<CloseCase> {};

TEST_P(OrderlyCloseTest, ConnectionIsRemovedWithoutAnyMessage) {
    auto leaving = accepted_client();
    auto staying = accepted_client();
    const ino_t inode = socket_inode(server.connection(0)->handle());
    GetParam().act(*leaving);

    ASSERT_TRUE(wait_until([&] { return server.active_connections() == 1; }));
    EXPECT_FALSE(process_holds_socket(inode)) << "descriptor of a closed connection still open";
    EXPECT_EQ(peer_port(server.connection(0)->handle()), staying->local_port());
    EXPECT_TRUE(errors.empty());
    broadcast(numbered_line(3));
    ASSERT_TRUE(staying->wait_for_bytes(numbered_line(3).size()));
    EXPECT_EQ(staying->received(), numbered_line(3));
}

INSTANTIATE_TEST_SUITE_P(
    Close, OrderlyCloseTest,
    ::testing::Values(CloseCase{"Close", [](LoopbackClient& c) { c.close(); }},
                      CloseCase{"HalfClose", [](LoopbackClient& c) { c.shutdown_write(); }},
                      CloseCase{"CloseWithUnreadInput",
                                [](LoopbackClient& c) {
                                    c.send_without_blocking(std::string(100000, 'x'));
                                    c.close();
                                }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServerSocketTest, ResetConnectionHoldsNoDescriptorAfterTheEventThatClosedIt) {
    auto client = accepted_client();
    const ino_t inode = socket_inode(server.connection(0)->handle());
    client->reset();
    broadcast(numbered_line(1));
    EXPECT_FALSE(process_holds_socket(inode));
    EXPECT_TRUE(wait_until([&] { return server.active_connections() == 0; }));
}

TEST_F(ServerSocketTest, FloodOfInputDoesNotWakeTheLoop) {
    auto flooder = accepted_client();
    auto reader = accepted_client();
    const std::string chunk(65536, 'z');
    const std::uint64_t before = server.dispatch_count();
    constexpr int kTelegrams = 10;
    for (int i = 0; i < kTelegrams; ++i) {
        flooder->send_without_blocking(chunk);
        net_test::run_loop_passes(200);
        broadcast(numbered_line(i));
    }
    const std::uint64_t dispatches = server.dispatch_count() - before;
    EXPECT_LE(dispatches, static_cast<std::uint64_t>(kTelegrams))
        << "unread input keeps waking the UI thread";
    ASSERT_TRUE(reader->wait_for_bytes(kTelegrams * numbered_line(0).size()));
    EXPECT_EQ(server.active_connections(), 2);
}

TEST_F(ServerSocketTest, StopClosesEveryClientAndFreesThePort) {
    auto a = accepted_client();
    auto b = accepted_client();
    server.setActive(false);
    EXPECT_FALSE(server.Active());
    EXPECT_EQ(server.active_connections(), 0);
    EXPECT_TRUE(a->wait_for_close());
    EXPECT_TRUE(b->wait_for_close());
    LoopbackClient refused(port);
    EXPECT_FALSE(refused.ok()) << "something still listens after stop";
}

TEST_F(ServerSocketTest, RestartRightAfterClosingConnectedClientsBinds) {
    auto client = accepted_client();
    broadcast(numbered_line(1));
    ASSERT_TRUE(client->wait_for_bytes(numbered_line(1).size()));
    server.setActive(false);
    ASSERT_TRUE(client->wait_for_close());
    client->close();

    // The server closed first, so its side of the connection waits in TIME-WAIT.
    std::ifstream table("/proc/net/tcp");
    std::string row;
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X ", port);
    bool time_wait = false;
    while (std::getline(table, row)) {
        std::istringstream fields(row);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if ((local + " ").find(wanted) != std::string::npos && state == "06") {
            time_wait = true;
        }
    }
    EXPECT_TRUE(time_wait) << "no TIME-WAIT left: the test would not show the restart case";

    net::TServerSocket again;
    again.setPort(port);
    EXPECT_NO_THROW(again.setActive(true));
    EXPECT_TRUE(again.Active());
}

struct TakenCase {
    const char* name;
    bool holder_is_our_server;
};

void PrintTo(const TakenCase& row, std::ostream* out) {
    *out << row.name;
}

class PortTakenTest : public ::testing::TestWithParam<TakenCase> {};

TEST_P(PortTakenTest, StartFailsNamingBind) {
    net::TServerSocket holder_server;
    int holder_fd = -1;
    std::uint16_t taken = 0;
    if (GetParam().holder_is_our_server) {
        holder_server.setPort(0);
        holder_server.setActive(true);
        taken = holder_server.bound_port();
    } else {
        holder_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        ASSERT_EQ(::bind(holder_fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(holder_fd, 1), 0);
        socklen_t length = sizeof address;
        ::getsockname(holder_fd, reinterpret_cast<sockaddr*>(&address), &length);
        taken = ntohs(address.sin_port);
    }

    net::TServerSocket server;
    server.setPort(taken);
    try {
        server.setActive(true);
        ADD_FAILURE() << "started on a taken port";
    } catch (const net::ESocketError& error) {
        const std::string expected = std::string("Windows socket error: ") +
                                     std::strerror(EADDRINUSE) + " (" + std::to_string(EADDRINUSE) +
                                     "), on API 'bind'";
        EXPECT_EQ(error.what(), expected);
    }
    EXPECT_FALSE(server.Active());
    if (holder_fd >= 0) {
        ::close(holder_fd);
    }
}

INSTANTIATE_TEST_SUITE_P(Taken, PortTakenTest,
                         ::testing::Values(TakenCase{"ByAnotherListener", false},
                                           TakenCase{"BySecondLiveServer", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ServerSocketStart, NoDescriptorForTheSocketGivesCantCreate) {
    net::TServerSocket server;
    server.setPort(0);
    std::exception_ptr failure;
    {
        DescriptorLimit limit(lowest_free_descriptor());
        try {
            server.setActive(true);
        } catch (...) {
            // Looked at once the limit is back: the sanitizers need descriptors.
            failure = std::current_exception();
        }
    }
    ASSERT_TRUE(failure) << "started without a descriptor";
    try {
        std::rethrow_exception(failure);
    } catch (const net::ESocketError& error) {
        EXPECT_STREQ(error.what(), "Can't create new socket");
    }
    EXPECT_FALSE(server.Active());
    EXPECT_NO_THROW(server.setActive(true));
}

TEST_F(ServerSocketTest, AcceptWithoutDescriptorsDropsTheConnectionAndDoesNotSpin) {
    LoopbackClient first(port);
    LoopbackClient second(port);
    ASSERT_TRUE(first.ok() && second.ok());
    {
        DescriptorLimit limit(lowest_free_descriptor());
        const std::uint64_t before = server.dispatch_count();
        net_test::run_loop_passes(500);
        EXPECT_LE(server.dispatch_count() - before, 10u) << "the listener spins";
        EXPECT_EQ(server.active_connections(), 0);
    }
    EXPECT_TRUE(first.wait_for_close());
    EXPECT_TRUE(second.wait_for_close());

    auto later = accepted_client();
    broadcast(numbered_line(5));
    ASSERT_TRUE(later->wait_for_bytes(numbered_line(5).size()));
    EXPECT_EQ(later->received(), numbered_line(5));
}

// A client that resets before it is accepted hands the server a socket that
// already holds an error: the handler sees a connect error.
TEST_F(ServerSocketTest, ResetBeforeAcceptIsAConnectErrorAndClosesTheConnection) {
    LoopbackClient client(port);
    ASSERT_TRUE(client.ok());
    client.reset();
    ASSERT_TRUE(wait_until([&] { return !errors.empty(); }));
    EXPECT_EQ(errors[0].kind, net::eeConnect);
    EXPECT_EQ(errors[0].code, ECONNRESET);
    EXPECT_TRUE(wait_until([&] { return server.active_connections() == 0; }));
}

class UnclearedErrorTest : public ServerSocketTest {
  protected:
    void SetUp() override {
        ServerSocketTest::SetUp();
        server.OnClientError = [this](QObject*, TCustomWinSocket* socket, TErrorEvent kind,
                                      int& code) {
            errors.push_back({socket, kind, code});
        };
    }
};

TEST_F(UnclearedErrorTest, FailedSendRaisesNamingSendAndStillCloses) {
    auto client = accepted_client();
    client->reset();
    TCustomWinSocket* connection = server.connection(0);
    try {
        connection->send_text("x");
        ADD_FAILURE() << "an uncleared send error was not raised";
    } catch (const net::ESocketError& error) {
        EXPECT_NE(std::string(error.what()).find("), on API 'send'"), std::string::npos)
            << error.what();
    }
    EXPECT_FALSE(connection->connected());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].kind, net::eeSend);
}

TEST_F(UnclearedErrorTest, NotificationErrorRaisesAsynchronousSocketError) {
    LoopbackClient client(port);
    ASSERT_TRUE(client.ok());
    client.reset();
    try {
        // Called directly so that the error reaches the test, not the Qt loop.
        server.process_ready();
        ADD_FAILURE() << "an uncleared connect error was not raised";
    } catch (const net::ESocketError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Asynchronous socket error " + std::to_string(ECONNRESET));
    }
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].kind, net::eeConnect);
}

}  // namespace
