// Raising the limit of open descriptors: the usual soft limit of 1024 is too
// low for a server that must hold a thousand clients.
#pragma once

#include "platform/socket_calls.h"

namespace platform {

// Raises the soft RLIMIT_NOFILE to the hard limit. Returns the failing call
// ("getrlimit", "setrlimit") if it cannot; the old limit then stays.
SysError raise_open_files_limit();

}  // namespace platform
