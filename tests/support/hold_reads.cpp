// Preloaded into the program by the real-window tests: while the file named by HOLD_READS_WHILE
// exists, a read of a file whose name ends in HOLD_READS_OF never comes back, as a read from a
// stalled network folder would not.
//   LD_PRELOAD=libhold_reads.so HOLD_READS_OF=6.bmp HOLD_READS_WHILE=/tmp/hold PROGRAM

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool held(int fd)
{
    const char *suffix = std::getenv("HOLD_READS_OF");
    const char *marker = std::getenv("HOLD_READS_WHILE");
    if (suffix == nullptr || marker == nullptr || ::access(marker, F_OK) != 0)
        return false;
    char name[4096] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), name, sizeof name - 1);
    const size_t wanted = std::strlen(suffix);
    return length >= ssize_t(wanted) && std::strcmp(name + length - wanted, suffix) == 0;
}

} // namespace

extern "C" ssize_t pread(int fd, void *buffer, size_t count, off_t offset)
{
    using Pread = ssize_t (*)(int, void *, size_t, off_t);
    static const auto REAL_PREAD = reinterpret_cast<Pread>(::dlsym(RTLD_NEXT, "pread"));
    while (held(fd))
        ::sleep(1);
    return REAL_PREAD(fd, buffer, count, offset);
}
