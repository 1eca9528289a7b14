// "Config." as a user meets it: the real binary on a private X server, a socat pair
// offered through QUARVEL_SERIALCOMM, the dialog driven with the keyboard through xdotool,
// and a TCP client of its server on 4099 beside the serial line.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"
#include "temp_tree.h"

namespace {

using namespace std::chrono_literals;

const auto* const kDisplayEnvironment =
    ::testing::AddGlobalTestEnvironment(new e2e::DisplayEnvironment);

// Client coordinates of the centres of the main window's buttons.
constexpr int kButtonsY = 80 + 12;
constexpr int kConfigX = 8 + 21;
constexpr int kSingleX = 50 + 21;
constexpr int kStartX = 92 + 21;
constexpr int kStopX = 134 + 21;

// Checks a telegram line without the composer's code: "$...*HH\r\n" with the XOR of
// the characters between '$' and '*'.
bool is_telegram(const std::string& line) {
    if (line.size() < 7 || line.front() != '$' || !line.ends_with("\r\n")) {
        return false;
    }
    const auto star = line.rfind('*');
    if (star == std::string::npos || star + 5 != line.size()) {
        return false;
    }
    unsigned sum = 0;
    for (std::size_t i = 1; i < star; ++i) {
        sum ^= static_cast<unsigned char>(line[i]);
    }
    return std::stoul(line.substr(star + 1, 2), nullptr, 16) == sum;
}

// The first `count` complete lines read from `fd`, or fewer when `timeout` passed first.
std::vector<std::string> read_lines(int fd, std::size_t count, std::chrono::milliseconds timeout) {
    std::string bytes;
    std::vector<std::string> lines;
    e2e::wait_until(
        [&] {
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 0) > 0) {
                char buffer[512];
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n > 0) {
                    bytes.append(buffer, static_cast<std::size_t>(n));
                }
            }
            for (auto end = bytes.find("\r\n"); end != std::string::npos;
                 end = bytes.find("\r\n")) {
                lines.push_back(bytes.substr(0, end + 2));
                bytes.erase(0, end + 2);
            }
            return lines.size() >= count;
        },
        timeout, 5ms);
    if (lines.size() > count) {
        lines.resize(count);
    }
    return lines;
}

// The shown window of `app`'s process whose caption is `name`; "" when there is none.
std::string window_named(e2e::App& app, const std::string& name) {
    for (const auto& w : e2e::display().windows_of(app.process().pid())) {
        if (e2e::display().window_name(w) == name) {
            return w;
        }
    }
    return {};
}

// A TCP client of the running panel's server (loopback, port 4099); -1 when none answers.
int connect_to_panel() {
    int fd = -1;
    e2e::wait_until(
        [&] {
            fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(4099);
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                return true;
            }
            ::close(fd);
            fd = -1;
            return false;
        },
        10s, 50ms);
    return fd;
}

void keys(const std::vector<std::string>& names) {
    std::vector<std::string> argv{"xdotool", "key", "--delay", "30"};
    argv.insert(argv.end(), names.begin(), names.end());
    ASSERT_EQ(e2e::run_command(argv, e2e::display().env()).code, 0);
}

TEST(ConfigEndToEnd, PickedPortAndPort4099ClientReceiveTheSameTelegrams) {
    e2e::display().start_window_manager();
    config_test::TempTree tree;
    const auto map = tree.dir("ports");
    const auto far_end = tree.root() / "far";
    // COM200: above the machine's own ports, so it is the last item of the list.
    e2e::Child socat({"socat", "-d", "-d", "pty,raw,echo=0,link=" + (map / "COM200").string(),
                      "pty,raw,echo=0,link=" + far_end.string()},
                     {});
    ASSERT_TRUE(e2e::wait_until(
        [&] { return std::filesystem::exists(map / "COM200") && std::filesystem::exists(far_end); },
        10s))
        << "socat made no pair";
    const int far = ::open(far_end.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(far, 0);

    // The machine's own network, so that this test's client reaches the program's port 4099.
    e2e::App app(e2e::Env{{"QUARVEL_SERIALCOMM", map.string()}, {"INTERVAL", "100"}},
                 e2e::quarvel_binary(), e2e::Network::machine());
    ASSERT_FALSE(app.wait_window().empty()) << "no window";
    const int tcp = connect_to_panel();
    ASSERT_GE(tcp, 0) << "no server on 4099";

    app.click(kConfigX, kButtonsY);
    std::string dialog;
    ASSERT_TRUE(e2e::wait_until(
        [&] { return !(dialog = window_named(app, "Configuração")).empty(); }, 20s, 50ms))
        << "no dialog";
    e2e::display().focus(dialog);
    // The first showing has the focus on OK: back to the port list, its last item, then
    // forward to OK and press it (an Enter would not).
    keys({"shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab", "End", "Tab", "Tab",
          "Tab", "Tab", "Tab", "space"});
    ASSERT_TRUE(
        e2e::wait_until([&] { return window_named(app, "Configuração").empty(); }, 10s, 100ms))
        << "the dialog stayed open";

    app.click(kSingleX, kButtonsY);
    auto lines = read_lines(far, 1, 10s);
    ASSERT_EQ(lines.size(), 1u) << "nothing arrived on the serial line";
    EXPECT_TRUE(is_telegram(lines[0])) << lines[0];
    EXPECT_TRUE(lines[0].starts_with("$PXTQSSB,")) << lines[0];
    EXPECT_EQ(read_lines(tcp, 1, 10s), lines) << "the TCP client got other bytes";

    app.click(kStartX, kButtonsY);
    lines = read_lines(far, 3, 20s);
    const auto tcp_lines = read_lines(tcp, 3, 20s);
    app.click(kStopX, kButtonsY);
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& line : lines) {
        EXPECT_TRUE(is_telegram(line)) << line;
    }
    EXPECT_EQ(tcp_lines, lines);

    e2e::display().close_window(app.window());
    const auto code = app.process().wait_exit(30s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0);
    ::close(far);
    ::close(tcp);
}

}  // namespace
