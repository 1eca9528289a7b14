#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace e2e {

namespace {

std::string errno_text(const char* call) {
    return std::string(call) + ": " + std::strerror(errno);
}

// The environment for a child: ours, without `unset` and the keys of `set`, then `set`.
std::vector<std::string> child_environment(const Env& set, const std::vector<std::string>& unset) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string key = text.substr(0, text.find('='));
        bool dropped = false;
        for (const auto& name : unset) {
            dropped = dropped || name == key;
        }
        for (const auto& [name, value] : set) {
            dropped = dropped || name == key;
        }
        if (!dropped) {
            result.push_back(text);
        }
    }
    for (const auto& [name, value] : set) {
        result.push_back(name + "=" + value);
    }
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& text : texts) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

// Spawns a child whose standard output goes to `out_fd` (or stays ours when -1).
pid_t spawn(const std::vector<std::string>& argv, const Env& set,
            const std::vector<std::string>& unset, int inherit_fd, int out_fd) {
    std::vector<std::string> args = argv;
    std::vector<std::string> envs = child_environment(set, unset);
    std::vector<char*> arg_pointers = pointers(args);
    std::vector<char*> env_pointers = pointers(envs);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error(errno_text("fork"));
    }
    if (pid == 0) {
        // Dies with the test, even when the test itself is killed.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        if (inherit_fd >= 0) {
            fcntl(inherit_fd, F_SETFD, 0);
        }
        if (out_fd >= 0) {
            dup2(out_fd, STDOUT_FILENO);
        }
        execvpe(arg_pointers[0], arg_pointers.data(), env_pointers.data());
        _exit(127);
    }
    return pid;
}

std::optional<int> reap(pid_t pid, std::chrono::milliseconds timeout) {
    std::optional<int> code;
    wait_until(
        [&] {
            int status = 0;
            const pid_t done = waitpid(pid, &status, WNOHANG);
            if (done == pid) {
                code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            return code.has_value();
        },
        timeout, 5ms);
    return code;
}

}  // namespace

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                std::chrono::milliseconds poll) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(poll);
    }
    return true;
}

Child::Child(const std::vector<std::string>& argv, const Env& set,
             const std::vector<std::string>& unset, int inherit_fd)
    : pid_(spawn(argv, set, unset, inherit_fd, -1)) {}

Child::~Child() {
    kill_now();
}

std::optional<int> Child::wait_exit(std::chrono::milliseconds timeout) {
    if (!code_) {
        code_ = reap(pid_, timeout);
    }
    return code_;
}

bool Child::running() {
    return !wait_exit(0ms).has_value();
}

void Child::kill_now() {
    if (pid_ > 0 && !code_) {
        kill(pid_, SIGKILL);
        code_ = reap(pid_, 10s);
    }
}

CommandResult run_command(const std::vector<std::string>& argv, const Env& set) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error(errno_text("pipe2"));
    }
    const pid_t pid = spawn(argv, set, {}, -1, fds[1]);
    close(fds[1]);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            break;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    std::optional<int> code = reap(pid, 30s);
    if (!code) {
        kill(pid, SIGKILL);
        code = reap(pid, 10s);
    }
    return {code.value_or(-1), out};
}

Display::Display() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error(errno_text("pipe2"));
    }
    server_ = std::make_unique<Child>(
        std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                 "1024x768x24", "-nolisten", "tcp", "-noreset"},
        Env{}, std::vector<std::string>{}, fds[1]);
    close(fds[1]);
    // Xvfb writes the display number once it accepts clients.
    std::string number;
    pollfd ready{fds[0], POLLIN, 0};
    while (number.find('\n') == std::string::npos && poll(&ready, 1, 20000) > 0) {
        char buffer[32];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        number.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        throw std::runtime_error("Xvfb did not report a display");
    }
    name_ = ":" + number.substr(0, number.find('\n'));
}

Display::~Display() {
    window_manager_.reset();
    server_.reset();
}

Env Display::env() const {
    return {{"DISPLAY", name_}, {"QT_QPA_PLATFORM", "xcb"}};
}

CommandResult Display::tool(std::vector<std::string> argv) const {
    return run_command(argv, env());
}

void Display::start_window_manager() {
    if (window_manager_ && window_manager_->running()) {
        return;
    }
    window_manager_ = std::make_unique<Child>(std::vector<std::string>{"openbox"}, env());
    if (!wait_until([this] { return tool({"wmctrl", "-m"}).code == 0; }, 20s, 50ms)) {
        throw std::runtime_error("openbox did not take the screen");
    }
}

void Display::stop_window_manager() {
    window_manager_.reset();
}

std::vector<std::string> Display::windows_of(pid_t pid) const {
    return split_lines(
        tool({"xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid)}).out);
}

std::vector<std::string> Display::windows_of_class(const std::string& klass) const {
    return split_lines(tool({"xdotool", "search", "--onlyvisible", "--class", klass}).out);
}

std::string Display::window_name(const std::string& window) const {
    std::string name = tool({"xdotool", "getwindowname", window}).out;
    if (!name.empty() && name.back() == '\n') {
        name.pop_back();
    }
    return name;
}

void Display::click(const std::string& window, int x, int y) const {
    tool({"xdotool", "mousemove", "--window", window, std::to_string(x), std::to_string(y), "click",
          "1"});
}

void Display::focus(const std::string& window) const {
    tool({"xdotool", "windowfocus", "--sync", window});
}

void Display::close_window(const std::string& window) const {
    tool({"wmctrl", "-i", "-c", window});
}

void Display::resize_window(const std::string& window, int width, int height) const {
    tool({"xdotool", "windowsize", window, std::to_string(width), std::to_string(height)});
}

std::pair<int, int> Display::window_size(const std::string& window) const {
    int width = -1;
    int height = -1;
    for (const std::string& line :
         split_lines(tool({"xdotool", "getwindowgeometry", "--shell", window}).out)) {
        if (line.rfind("WIDTH=", 0) == 0) {
            width = std::stoi(line.substr(6));
        } else if (line.rfind("HEIGHT=", 0) == 0) {
            height = std::stoi(line.substr(7));
        }
    }
    return {width, height};
}

std::string Display::window_property(const std::string& window, const std::string& property) const {
    const CommandResult result = tool({"xprop", "-id", window, property});
    return result.out.find('=') == std::string::npos ? "" : result.out;
}

namespace {
std::unique_ptr<Display>& shared_display() {
    static std::unique_ptr<Display> instance;
    return instance;
}
}  // namespace

Display& display() {
    if (!shared_display()) {
        shared_display() = std::make_unique<Display>();
    }
    return *shared_display();
}

void DisplayEnvironment::TearDown() {
    shared_display().reset();
}

std::string quarvel_binary() {
    return QUARVEL_BINARY;
}

namespace {

// Whether this system lets us make network namespaces; probed once.
bool namespaces_available() {
    static const bool available = [] {
        std::vector<std::string> probe = {"unshare", "--net", "--", "true"};
        if (geteuid() != 0) {
            probe.insert(probe.begin() + 1, "--map-root-user");
        }
        const bool ok = run_command(probe, {}).code == 0;
        if (!ok) {
            std::fprintf(stderr,
                         "e2e: cannot make a network namespace; quarvel runs in the machine's, "
                         "so another running quarvel makes these tests fail\n");
        }
        return ok;
    }();
    return available;
}

// The command line that starts `binary` in `network`.
std::vector<std::string> command_in(const Network& network, const std::string& binary) {
    const bool root = geteuid() == 0;
    std::vector<std::string> command;
    if (network.kind == Network::Kind::Own && namespaces_available()) {
        command = {"unshare", "--net"};
        if (!root) {
            command.push_back("--map-root-user");
        }
    } else if (network.kind == Network::Kind::SameAs && namespaces_available()) {
        command = {"nsenter", "--target", std::to_string(network.pid), "--net"};
        if (!root) {
            command.insert(command.end(), {"--user", "--preserve-credentials"});
        }
    }
    if (!command.empty()) {
        command.push_back("--");
    }
    command.push_back(binary);
    return command;
}

}  // namespace

App::App(const Env& extra, const std::string& binary, Network network,
         const std::vector<std::string>& arguments)
    : process_(
          [&] {
              std::vector<std::string> command = command_in(network, binary);
              command.insert(command.end(), arguments.begin(), arguments.end());
              return command;
          }(),
          [&extra] {
              Env env = display().env();
              env.insert(env.end(), extra.begin(), extra.end());
              return env;
          }(),
          // The tests' own offscreen setting must not reach the program.
          std::vector<std::string>{"QT_QPA_PLATFORM"}) {}

std::string App::wait_window(std::chrono::milliseconds timeout) {
    wait_until(
        [this] {
            const auto windows = display().windows_of(process_.pid());
            if (windows.size() == 1) {
                window_ = windows.front();
            }
            return !window_.empty() || !process_.running();
        },
        timeout, 50ms);
    return window_;
}

std::string App::no_window_reason() {
    const std::optional<int> code = process_.wait_exit(0ms);
    if (!code) {
        return "quarvel runs but shows no single visible window";
    }
    if (*code == 0) {
        return "quarvel ended at once with 0: another instance holds the machine's "
               "single-instance lock";
    }
    return "quarvel ended with exit code " + std::to_string(*code);
}

std::string App::caption() const {
    return display().window_name(window_);
}

bool App::wait_caption(const std::string& expected, std::chrono::milliseconds timeout) const {
    return wait_until([&] { return caption() == expected; }, timeout);
}

}  // namespace e2e
