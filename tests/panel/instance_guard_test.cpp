#include "platform/instance_guard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>

namespace {

using platform::AcquireResult;
using platform::InstanceGuard;

// A lock name of our own per test, so the tests neither meet a running program nor each other.
std::string unique_name(const char* what) {
    static std::atomic<int> counter{0};
    return "quarvel-test-" + std::to_string(getpid()) + "-" + what + "-" +
           std::to_string(counter++);
}

// The guard_probe helper running as a real child process, talked to through two pipes.
class Probe {
  public:
    explicit Probe(const std::string& name) {
        int to_child[2];
        int from_child[2];
        if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe2 failed";
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(to_child[0], STDIN_FILENO);
            dup2(from_child[1], STDOUT_FILENO);
            execl(QUARVEL_GUARD_PROBE, QUARVEL_GUARD_PROBE, name.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(to_child[0]);
        close(from_child[1]);
        stdin_ = to_child[1];
        stdout_ = from_child[0];
    }
    ~Probe() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            reap();
        }
        close(stdin_);
        close(stdout_);
    }

    // The probe's one-line answer; blocks until it is written (the child writes it at once).
    std::string answer() {
        std::string line;
        char c;
        while (read(stdout_, &c, 1) == 1 && c != '\n') {
            line += c;
        }
        return line;
    }

    void kill_hard() {
        kill(pid_, SIGKILL);
        reap();
    }

  private:
    void reap() {
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
};

TEST(InstanceGuard, SecondAcquireFailsWhileTheFirstHolds) {
    const std::string name = unique_name("second");
    InstanceGuard first(name);
    ASSERT_EQ(first.acquire(), AcquireResult::Acquired) << first.error();
    EXPECT_TRUE(first.held());
    EXPECT_EQ(first.acquire(), AcquireResult::Acquired);  // holding it again is no conflict

    Probe other_process(name);
    EXPECT_EQ(other_process.answer(), "held");

    InstanceGuard same_process(name);
    EXPECT_EQ(same_process.acquire(), AcquireResult::HeldElsewhere);
    EXPECT_FALSE(same_process.held());

    first.release();
    EXPECT_FALSE(first.held());
    EXPECT_EQ(same_process.acquire(), AcquireResult::Acquired);
}

TEST(InstanceGuard, KilledHolderReleasesAtOnce) {
    const std::string name = unique_name("killed");
    Probe holder(name);
    ASSERT_EQ(holder.answer(), "acquired");
    InstanceGuard guard(name);
    EXPECT_EQ(guard.acquire(), AcquireResult::HeldElsewhere);
    holder.kill_hard();  // returns once the child is reaped: the kernel has closed its files
    EXPECT_EQ(guard.acquire(), AcquireResult::Acquired);
}

TEST(InstanceGuard, ProgramStartedWithExecDoesNotInheritIt) {
    const std::string name = unique_name("exec");
    InstanceGuard guard(name);
    ASSERT_EQ(guard.acquire(), AcquireResult::Acquired);
    // The child is forked while the lock is held and stays alive past our release: had it
    // inherited the descriptor, the lock would still be taken.
    Probe child(name);
    ASSERT_EQ(child.answer(), "held");
    guard.release();
    EXPECT_EQ(guard.acquire(), AcquireResult::Acquired);
}

TEST(InstanceGuard, DestructorReleases) {
    const std::string name = unique_name("scope");
    {
        InstanceGuard guard(name);
        ASSERT_EQ(guard.acquire(), AcquireResult::Acquired);
    }
    InstanceGuard again(name);
    EXPECT_EQ(again.acquire(), AcquireResult::Acquired);
}

TEST(InstanceGuard, NamesThatCannotBeLocks) {
    for (const std::string& name : {std::string(), std::string(108, 'q')}) {
        SCOPED_TRACE(name.size());
        InstanceGuard guard(name);
        EXPECT_EQ(guard.acquire(), AcquireResult::Failed);
        EXPECT_FALSE(guard.error().empty());
        EXPECT_FALSE(guard.held());
    }
}

}  // namespace
