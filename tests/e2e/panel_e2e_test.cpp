// The panel as a user meets it: the real binary on a private X server, driven with xdotool.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using namespace std::chrono_literals;

const auto* const kDisplayEnvironment =
    ::testing::AddGlobalTestEnvironment(new e2e::DisplayEnvironment);

// Client coordinates of the centres of the buttons.
constexpr int kButtonsY = 80 + 12;
constexpr int kSingleX = 50 + 21;
constexpr int kStartX = 92 + 21;
constexpr int kStopX = 134 + 21;

// The executable's file name without its extension, which the caption takes on activation.
std::string base_name() {
    std::string name = e2e::quarvel_binary();
    name = name.substr(name.find_last_of('/') + 1);
    return name.substr(0, name.find_last_of('.'));
}

TEST(PanelEndToEnd, CaptionIsQuarvelUntilActivatedThenTheBaseName) {
    // The same program under a dotted name: only its last extension goes.
    const std::filesystem::path copy_dir =
        std::filesystem::temp_directory_path() / ("quarvel-e2e-" + std::to_string(getpid()));
    std::filesystem::create_directories(copy_dir);
    const std::filesystem::path copy = copy_dir / "probe.test.bin";
    std::filesystem::copy_file(e2e::quarvel_binary(), copy,
                               std::filesystem::copy_options::overwrite_existing);
    struct Row {
        const char* name;
        std::string binary;
        std::vector<std::string> arguments;
        std::string title;
    };
    const Row rows[] = {
        {"as built", e2e::quarvel_binary(), {}, base_name()},
        {"dotted copy", copy.string(), {}, "probe.test"},
        // The program takes no options; the toolkit must not take its own from the command line.
        {"toolkit's title option ignored",
         e2e::quarvel_binary(),
         {"-qwindowtitle", "Intruder", "-title", "Intruder"},
         base_name()},
    };
    // Without a window manager nothing activates the window until we give it the focus, so the
    // caption it was mapped with stays visible for as long as we look.
    e2e::display().stop_window_manager();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        e2e::App app({}, row.binary, e2e::Network::own(), row.arguments);
        ASSERT_FALSE(app.wait_window().empty()) << app.no_window_reason();
        EXPECT_EQ(app.caption(), "Quarvel");
        e2e::display().focus(app.window());
        EXPECT_TRUE(app.wait_caption(row.title)) << app.caption();
    }
    std::filesystem::remove_all(copy_dir);
}

TEST(PanelEndToEnd, SingleTurnsTheMark) {
    e2e::display().start_window_manager();
    e2e::App app;
    ASSERT_FALSE(app.wait_window().empty()) << app.no_window_reason();
    ASSERT_TRUE(app.wait_caption(base_name())) << app.caption();
    app.click(kSingleX, kButtonsY);
    EXPECT_TRUE(app.wait_caption(base_name() + " /")) << app.caption();
    app.click(kSingleX, kButtonsY);
    EXPECT_TRUE(app.wait_caption(base_name() + " \\")) << app.caption();
}

TEST(PanelEndToEnd, SecondStartEndsAtOnceWithZeroAndOneWindowStays) {
    e2e::display().start_window_manager();
    e2e::App first;
    ASSERT_FALSE(first.wait_window().empty()) << first.no_window_reason();
    e2e::App second({}, e2e::quarvel_binary(), e2e::Network::same_as(first.process().pid()));
    const auto code = second.process().wait_exit(30s);
    ASSERT_TRUE(code.has_value()) << "the second instance is still running";
    EXPECT_EQ(*code, 0);
    EXPECT_TRUE(first.process().running());
    EXPECT_EQ(e2e::display().windows_of_class("quarvel").size(), 1u);
}

TEST(PanelEndToEnd, StartTurnsTheMarkEveryTwiceIntervalUntilStop) {
    e2e::display().start_window_manager();
    e2e::App app(e2e::Env{{"INTERVAL", "250"}});
    ASSERT_FALSE(app.wait_window().empty()) << app.no_window_reason();
    ASSERT_TRUE(app.wait_caption(base_name())) << app.caption();

    app.click(kStartX, kButtonsY);
    // Ticks every 500 ms: about 6 in 3.2 s. 250 ms (INTERVAL not doubled) would give about 12,
    // the default 2000 ms at most 1. The lower bound leaves room for a loaded machine.
    std::vector<std::string> captions;
    e2e::wait_until(
        [&] {
            const std::string now = app.caption();
            if (captions.empty() || captions.back() != now) {
                captions.push_back(now);
            }
            return false;
        },
        3200ms, 20ms);
    const std::size_t changes = captions.size() - 1;
    EXPECT_GE(changes, 3u);
    EXPECT_LE(changes, 7u);
    for (std::size_t n = 1; n < captions.size(); ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(captions[n], base_name() + (n % 2 == 1 ? " /" : " \\"));
    }

    app.click(kStopX, kButtonsY);
    EXPECT_TRUE(app.wait_caption(base_name())) << app.caption();
}

TEST(PanelEndToEnd, WindowKeepsItsSizeStaysOnTopAndOffersNoMaximise) {
    e2e::display().start_window_manager();
    e2e::App app;
    ASSERT_FALSE(app.wait_window().empty()) << app.no_window_reason();
    const auto& screen = e2e::display();
    EXPECT_EQ(screen.window_size(app.window()), std::make_pair(183, 130));
    screen.resize_window(app.window(), 400, 300);
    // A refusal has no event to wait for: give the request a second to take effect.
    EXPECT_FALSE(e2e::wait_until(
        [&] { return screen.window_size(app.window()) != std::make_pair(183, 130); }, 1s, 50ms))
        << "the window took a new size";

    EXPECT_NE(screen.window_property(app.window(), "_NET_WM_STATE").find("_NET_WM_STATE_ABOVE"),
              std::string::npos);
    const std::string actions = screen.window_property(app.window(), "_NET_WM_ALLOWED_ACTIONS");
    ASSERT_NE(actions.find("_NET_WM_ACTION_MINIMIZE"), std::string::npos) << actions;
    EXPECT_EQ(actions.find("_NET_WM_ACTION_MAXIMIZE"), std::string::npos) << actions;
    EXPECT_EQ(actions.find("_NET_WM_ACTION_RESIZE"), std::string::npos) << actions;
}

TEST(PanelEndToEnd, ClosingTheWindowEndsTheProcessWithZero) {
    e2e::display().start_window_manager();
    e2e::App app;
    ASSERT_FALSE(app.wait_window().empty()) << app.no_window_reason();
    e2e::display().close_window(app.window());
    const auto code = app.process().wait_exit(30s);
    ASSERT_TRUE(code.has_value()) << "still running after the close";
    EXPECT_EQ(*code, 0);
}

}  // namespace
