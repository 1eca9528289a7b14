// The server as a user meets it: the real binary on a private X server, clients on port 4099.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
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

TEST(NetEndToEnd, TakenPortShowsTheBindErrorAndEndsWithZero) {
    e2e::display().start_window_manager();
    // SO_REUSEADDR only so that leftovers of an earlier run cannot stop the test itself.
    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kPort);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder, 1), 0);

    e2e::App app;
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
    auto app = std::make_unique<e2e::App>(e2e::Env{{"INTERVAL", "50"}});
    ASSERT_FALSE(app->wait_window().empty()) << "no window";
    ASSERT_TRUE(app->wait_caption(base_name())) << app->caption();

    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<LoopbackClient>(kPort));
        ASSERT_TRUE(clients.back()->ok());
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
    EXPECT_FALSE(LoopbackClient(kPort).ok()) << "port 4099 still taken after the close";

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
    app = std::make_unique<e2e::App>();
    ASSERT_FALSE(app->wait_window().empty()) << "no window";
    EXPECT_TRUE(app->wait_caption(base_name())) << app->caption() << " (an error box?)";
    LoopbackClient client(kPort);
    EXPECT_TRUE(client.ok()) << "the restarted program does not listen";
    e2e::display().close_window(app->window());
    EXPECT_TRUE(app->process().wait_exit(30s).has_value());
}

}  // namespace
