// A separate process for the instance guard tests: tries the lock named by argv[1], prints
// "acquired", "held" or "failed: <why>" on one line, then stays alive until its standard input
// closes (or it is killed), so the lock stays held exactly as long as the test wants.
#include <unistd.h>

#include <cstdio>

#include "platform/instance_guard.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: guard_probe NAME\n");
        return 2;
    }
    platform::InstanceGuard guard(argv[1]);
    switch (guard.acquire()) {
        case platform::AcquireResult::Acquired:
            std::printf("acquired\n");
            break;
        case platform::AcquireResult::HeldElsewhere:
            std::printf("held\n");
            break;
        case platform::AcquireResult::Failed:
            std::printf("failed: %s\n", guard.error().c_str());
            break;
    }
    std::fflush(stdout);
    char byte;
    while (read(STDIN_FILENO, &byte, 1) > 0) {
    }
    return 0;
}
