// End-to-end harness: a private X server (Xvfb) with an optional window manager (openbox), the
// real quarvel binary started in it with a chosen environment, and xdotool/wmctrl to look at and
// drive its window. Every process it starts dies with the test process (PR_SET_PDEATHSIG) and is
// killed by its own pid when its owner goes, so nothing outlives a test.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

using namespace std::chrono_literals;
using Env = std::vector<std::pair<std::string, std::string>>;

// Polls `done` every `poll` until it holds or `timeout` passes; answers whether it held.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                std::chrono::milliseconds poll = 20ms);

// A process started by the harness. Destruction kills it (SIGKILL, by pid) if it still runs.
class Child {
  public:
    // Starts argv[0] (looked up in PATH) with the test's environment, minus `unset`, plus `set`.
    // `inherit_fd` (if >= 0) stays open in the child under the same number. Throws on failure.
    Child(const std::vector<std::string>& argv, const Env& set,
          const std::vector<std::string>& unset = {}, int inherit_fd = -1);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    // The exit code once the process has ended (128 + signal number after a signal), or
    // nothing when it still runs after `timeout`.
    std::optional<int> wait_exit(std::chrono::milliseconds timeout);
    bool running();
    void kill_now();

  private:
    pid_t pid_ = -1;
    std::optional<int> code_;
};

struct CommandResult {
    int code;
    std::string out;
};

// Runs a command to its end (at most 30 s) and returns its exit code and standard output.
CommandResult run_command(const std::vector<std::string>& argv, const Env& set);

// A private X server on a free display, with openbox on demand.
class Display {
  public:
    Display();  // throws when Xvfb cannot start
    ~Display();

    const std::string& name() const { return name_; }
    // DISPLAY of this server, and the Qt platform that draws on it.
    Env env() const;

    // Starts openbox and waits until it manages the screen; nothing when it already runs.
    void start_window_manager();
    void stop_window_manager();

    // Visible windows of a process, and of any program whose WM_CLASS matches `klass`.
    std::vector<std::string> windows_of(pid_t pid) const;
    std::vector<std::string> windows_of_class(const std::string& klass) const;
    std::string window_name(const std::string& window) const;
    // A left click at client coordinates of `window`.
    void click(const std::string& window, int x, int y) const;
    // Gives the window the keyboard focus (works without a window manager).
    void focus(const std::string& window) const;
    // Asks the window manager to close the window, as its close button does.
    void close_window(const std::string& window) const;
    // Asks for a new size of the window, as dragging its border does.
    void resize_window(const std::string& window, int width, int height) const;
    // Width and height of the window, as the X server has it.
    std::pair<int, int> window_size(const std::string& window) const;
    // The text in which xprop shows one property of the window ("" when it is not set).
    std::string window_property(const std::string& window, const std::string& property) const;

  private:
    CommandResult tool(std::vector<std::string> argv) const;

    std::unique_ptr<Child> server_;
    std::unique_ptr<Child> window_manager_;
    std::string name_;
};

// The display of the current test binary, started on first use and stopped at the end of the
// run by DisplayEnvironment (register it once per test binary).
Display& display();

class DisplayEnvironment : public ::testing::Environment {
  public:
    void TearDown() override;
};

// Path of the quarvel binary under test (set by the build).
std::string quarvel_binary();

// The network namespace a run of quarvel lives in. Its single-instance lock (an abstract Unix
// socket) and its TCP port are per namespace, so a run in its own namespace neither meets nor
// disturbs another quarvel on the machine (a user's, or another tree's tests).
struct Network {
    enum class Kind { Own, Machine, SameAs };
    Kind kind = Kind::Own;
    pid_t pid = 0;

    // A fresh namespace (the default). Falls back to the machine's when the system cannot make
    // one (no unshare/nsenter permission); a note on stderr says so.
    static Network own() { return {Kind::Own, 0}; }
    // The machine's own: what a user gets; tests that connect to the program's port use it.
    static Network machine() { return {Kind::Machine, 0}; }
    // The namespace of a running process, e.g. to start a second instance beside a first one.
    static Network same_as(pid_t process) { return {Kind::SameAs, process}; }
};

// One run of quarvel on the test's display.
class App {
  public:
    // Starts `binary` (the build's quarvel unless given) with the display's environment plus
    // `extra`, in the network namespace `network`, with `arguments` after the binary's name.
    explicit App(const Env& extra = {}, const std::string& binary = quarvel_binary(),
                 Network network = Network::own(), const std::vector<std::string>& arguments = {});

    Child& process() { return process_; }
    // Waits for its one visible window; empty when none appeared within `timeout`.
    std::string wait_window(std::chrono::milliseconds timeout = 20s);
    // Why wait_window() found no window, for a test's failure message.
    std::string no_window_reason();
    // The window found by wait_window().
    const std::string& window() const { return window_; }
    std::string caption() const;
    // Waits until the caption reads `expected`; answers whether it did within `timeout`.
    bool wait_caption(const std::string& expected, std::chrono::milliseconds timeout = 10s) const;
    void click(int x, int y) const { display().click(window_, x, y); }

  private:
    Child process_;
    std::string window_;
};

}  // namespace e2e
