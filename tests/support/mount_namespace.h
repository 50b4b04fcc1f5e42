#pragma once

#include <cstring>
#include <unistd.h>

namespace tirvel::testing {

// True in a mount namespace other than the launcher's (ctest's `unshare --mount`), where a test
// may mount a small disk of its own without touching the machine's.
inline bool inOwnMountNamespace()
{
    char own[64] = {};
    char launchers[64] = {};
    const std::string launcher = "/proc/" + std::to_string(::getppid()) + "/ns/mnt";
    return ::readlink("/proc/self/ns/mnt", own, sizeof own - 1) > 0
        && ::readlink(launcher.c_str(), launchers, sizeof launchers - 1) > 0
        && std::strcmp(own, launchers) != 0;
}

} // namespace tirvel::testing
