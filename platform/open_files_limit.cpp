// Raising the limit of open descriptors to what the system allows this process.
#include "platform/open_files_limit.h"

#include <sys/resource.h>
#include <cerrno>

namespace platform {

SysError raise_open_files_limit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return SysError{errno, "getrlimit"};
    }
    if (limit.rlim_cur == limit.rlim_max) {
        return {};
    }
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return SysError{errno, "setrlimit"};
    }
    return {};
}

}  // namespace platform
