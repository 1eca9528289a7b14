// The server as a user meets it: the real binary on a private X server, clients on port 4099.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "loopback_client.h"
#include "tests/support/telegram_check.h"

namespace {

using namespace std::chrono_literals;
using net_test::LoopbackClient;

const auto* const kDisplayEnvironment =
    ::testing::AddGlobalTestEnvironment(new e2e::DisplayEnvironment);

constexpr std::uint16_t kPort = 4099;
// Client coordinates of the centre of "Start".
constexpr int kStartX = 92 + 21;
constexpr int kButtonsY = 80 + 12;

std::string base_name() {
    std::string name = e2e::quarvel_binary();
    name = name.substr(name.find_last_of('/') + 1);
    return name.substr(0, name.find_last_of('.'));
}

std::vector<std::string> complete_lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos;
         begin = end + 1) {
        lines.push_back(text.substr(begin, end + 1 - begin));
    }
    return lines;
}

// Whether the program under test can get a network namespace of its own that this test can
// join (root only): then its port 4099 is private to the test. Otherwise everything happens on
// the machine's port 4099, which the RESOURCE_LOCK keeps to one test at a time.
bool private_network() {
    static const bool available =
        geteuid() == 0 && e2e::run_command({"unshare", "--net", "--", "true"}, {}).code == 0;
    return available;
}

ino_t network_inode(const std::string& process) {
    struct stat status {};
    return ::stat(("/proc/" + process + "/ns/net").c_str(), &status) == 0 ? status.st_ino : 0;
}

// An idle process holding a fresh network namespace for the program and this test, so that the
// namespace outlives a run of the program; nullptr without a private network.
std::unique_ptr<e2e::Child> network_keeper() {
    if (!private_network()) {
        return nullptr;
    }
    auto keeper = std::make_unique<e2e::Child>(
        std::vector<std::string>{"unshare", "--net", "--", "sleep", "600"}, e2e::Env{});
    const std::string pid = std::to_string(keeper->pid());
    EXPECT_TRUE(e2e::wait_until(
        [&] { return network_inode(pid) != 0 && network_inode(pid) != network_inode("self"); },
        10s))
        << "the keeper did not get a namespace of its own";
    return keeper;
}

e2e::Network network_of(const std::unique_ptr<e2e::Child>& keeper) {
    return keeper ? e2e::Network::same_as(keeper->pid()) : e2e::Network::machine();
}

// While alive, this thread's new sockets belong to the network namespace of `pid`, whose
// loopback interface it brings up (a fresh namespace starts with it down). A no-op without a
// private network.
class InNetworkOf {
  public:
    explicit InNetworkOf(pid_t pid) {
        if (!private_network() || pid <= 0) {
            return;
        }
        own_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const std::string path = "/proc/" + std::to_string(pid) + "/ns/net";
        const int target = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        joined_ = target >= 0 && ::setns(target, CLONE_NEWNET) == 0;
        if (target >= 0) {
            ::close(target);
        }
        EXPECT_TRUE(joined_) << "cannot join the network of " << pid;
        if (joined_) {
            bring_loopback_up();
        }
    }
    ~InNetworkOf() {
        if (joined_) {
            ::setns(own_, CLONE_NEWNET);
        }
        if (own_ >= 0) {
            ::close(own_);
        }
    }
    InNetworkOf(const InNetworkOf&) = delete;
    InNetworkOf& operator=(const InNetworkOf&) = delete;

  private:
    static void bring_loopback_up() {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ifreq request{};
        std::snprintf(request.ifr_name, sizeof request.ifr_name, "lo");
        if (::ioctl(fd, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_UP) == 0) {
            request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
            EXPECT_EQ(::ioctl(fd, SIOCSIFFLAGS, &request), 0) << "loopback stays down";
        }
        ::close(fd);
    }

    int own_ = -1;
    bool joined_ = false;
};

void press(const std::string& window, const std::string& keys) {
    e2e::display().focus(window);
    e2e::run_command({"xdotool", "key", "--clearmodifiers", keys}, e2e::display().env());
}

// The text of a message box: its label is selectable by mouse, and a triple click selects the
// whole paragraph into the X primary selection. Heights further down are tried until the
// selection names `wanted`.
std::string message_box_text(const std::string& window, const std::string& wanted) {
    const auto& env = e2e::display().env();
    const std::string geometry =
        e2e::run_command({"xdotool", "getwindowgeometry", "--shell", window}, env).out;
    auto value = [&](const std::string& key) {
        const std::size_t at = geometry.find(key + "=");
        return at == std::string::npos ? 0 : std::stoi(geometry.substr(at + key.size() + 1));
    };
    const int width = value("WIDTH");
    const int height = value("HEIGHT");
    std::string text;
    for (int y = 6; y < height - 30 && text.find(wanted) == std::string::npos; y += 6) {
        e2e::run_command({"xdotool", "mousemove", "--window", window, std::to_string(width / 3),
                          std::to_string(y), "click", "--repeat", "3", "--delay", "60", "1"},
                         env);
        text = e2e::run_command({QUARVEL_CLIPBOARD_PROBE, "--selection"}, env).out;
    }
    return text;
}

// The soft and hard limits of open files of a running process, from /proc; {0, 0} if unreadable.
std::pair<std::string, std::string> open_files_limits(pid_t pid) {
    std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
    for (std::string line; std::getline(limits, line);) {
        if (line.rfind("Max open files", 0) == 0) {
            std::istringstream fields(line.substr(std::string("Max open files").size()));
            std::pair<std::string, std::string> soft_hard;
            fields >> soft_hard.first >> soft_hard.second;
            return soft_hard;
        }
    }
    return {"0", "0"};
}

// Started under the usual soft limit of 1024 descriptors, the program lifts it to the hard
// limit, or a thousand clients (and its own descriptors) would not fit.
TEST(NetEndToEnd, StartUpLiftsTheDescriptorLimitForAThousandClients) {
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    constexpr rlim_t kUsualSoftLimit = 1024;
    if (saved.rlim_max <= kUsualSoftLimit) {
        GTEST_SKIP() << "the hard limit of open files is only " << saved.rlim_max;
    }
    rlimit lowered = saved;
    lowered.rlim_cur = kUsualSoftLimit;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    std::unique_ptr<e2e::App> app;
    try {
        app = std::make_unique<e2e::App>();
    } catch (...) {
        ::setrlimit(RLIMIT_NOFILE, &saved);
        throw;
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);

    ASSERT_FALSE(app->wait_window().empty()) << app->no_window_reason();
    const auto [soft, hard] = open_files_limits(app->process().pid());
    EXPECT_EQ(hard, std::to_string(saved.rlim_max));
    EXPECT_EQ(soft, hard) << "the soft limit stayed where the program found it";
}

TEST(NetEndToEnd, TakenPortShowsTheBindErrorAndEndsWithZero) {
    e2e::display().start_window_manager();
    const auto keeper = network_keeper();
    int holder = -1;
    {
        InNetworkOf in_program_network(keeper ? keeper->pid() : 0);
        holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // SO_REUSEADDR only so that leftovers of an earlier run cannot stop the test itself.
        const int on = 1;
        ::setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(kPort);
        ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(holder, 1), 0);
    }

    e2e::App app({}, e2e::quarvel_binary(), network_of(keeper));
    const std::string box = app.wait_window();
    ASSERT_FALSE(box.empty()) << "no error box";
    std::string text;
    e2e::wait_until(
        [&] {
            text = message_box_text(box, "bind");
            return text.find("bind") != std::string::npos;
        },
        15s, 100ms);
    EXPECT_EQ(text.rfind("Windows socket error: ", 0), 0u) << text;
    EXPECT_NE(text.find("on API 'bind'"), std::string::npos) << text;

    press(box, "Return");
    const auto code = app.process().wait_exit(30s);
    ASSERT_TRUE(code.has_value()) << "still running after the error box";
    EXPECT_EQ(*code, 0);
    ::close(holder);
}

// Clients connected before "Start" each get every tick's telegram, whole and identical; closing
// the window gives each of them end-of-file, frees the port, and a new run binds at once.
TEST(NetEndToEnd, ClientsGetEveryTelegramAndCloseFreesThePortForARestart) {
    e2e::display().start_window_manager();
    const auto keeper = network_keeper();
    const pid_t network = keeper ? keeper->pid() : 0;
    auto app = std::make_unique<e2e::App>(e2e::Env{{"INTERVAL", "50"}}, e2e::quarvel_binary(),
                                          network_of(keeper));
    ASSERT_FALSE(app->wait_window().empty()) << "no window";
    ASSERT_TRUE(app->wait_caption(base_name())) << app->caption();

    std::vector<std::unique_ptr<LoopbackClient>> clients;
    {
        InNetworkOf in_program_network(network);
        for (int i = 0; i < 3; ++i) {
            clients.push_back(std::make_unique<LoopbackClient>(kPort));
            ASSERT_TRUE(clients.back()->ok());
        }
    }
    app->click(kStartX, kButtonsY);
    constexpr std::size_t kWanted = 8;
    for (auto& client : clients) {
        ASSERT_TRUE(e2e::wait_until(
            [&] {
                client->drain();
                return complete_lines(client->received()).size() >= kWanted;
            },
            20s))
            << client->received();
    }

    e2e::display().close_window(app->window());
    for (auto& client : clients) {
        EXPECT_TRUE(client->wait_for_close(10s)) << "no end-of-file after the close";
    }
    const auto code = app->process().wait_exit(30s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0);
    {
        InNetworkOf in_program_network(network);
        EXPECT_FALSE(LoopbackClient(kPort).ok()) << "port 4099 still taken after the close";
    }

    // Each client saw the same whole telegrams, except that the earliest connected may have one
    // more at the front if a tick fell between two connects.
    const std::vector<std::string> last = complete_lines(clients.back()->received());
    for (auto& client : clients) {
        const std::vector<std::string> lines = complete_lines(client->received());
        ASSERT_GE(lines.size(), last.size());
        for (std::size_t n = 0; n < lines.size(); ++n) {
            SCOPED_TRACE(lines[n]);
            const auto check = test_support::check_telegram(lines[n]);
            EXPECT_TRUE(check.ok) << check.why;
        }
        const std::size_t skip = lines.size() - last.size();
        EXPECT_LE(skip, 1u);
        EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(skip),
                                           lines.end()),
                  last);
        EXPECT_EQ(client->received().back(), '\n') << "a telegram was cut";
    }
    clients.clear();

    // The server closed first, so its ends of those connections wait in TIME-WAIT.
    app = std::make_unique<e2e::App>(e2e::Env{}, e2e::quarvel_binary(), network_of(keeper));
    ASSERT_FALSE(app->wait_window().empty()) << "no window";
    EXPECT_TRUE(app->wait_caption(base_name())) << app->caption() << " (an error box?)";
    {
        InNetworkOf in_program_network(network);
        EXPECT_TRUE(LoopbackClient(kPort).ok()) << "the restarted program does not listen";
    }
    e2e::display().close_window(app->window());
    EXPECT_TRUE(app->process().wait_exit(30s).has_value());
}

}  // namespace
