// Rewrites a frame file over and over, taking each time the next of the given source files, the
// way a frame grabber does:
//   frame_rewriter [--in-place | --rename] [--fps N] DESTINATION ROUNDS SOURCE...
// By default it truncates the file and writes it in 4 KiB chunks with pauses. --in-place writes
// over the old frame without truncating it first, so the file always has a whole frame's size;
// --rename writes a temporary file beside it and renames that over the destination, as the
// README asks writers to. --fps N starts a new round N times a second instead of at once.
// Whenever the file has stood still longer than ever before in the middle of a frame (a busy
// machine holds the writer up between chunks), it says so on standard output, in microseconds:
// a reader that looks during such a pause sees part of a frame as a whole one.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

enum class Mode { Truncate, InPlace, Rename };

using Clock = std::chrono::steady_clock;
Clock::duration g_longestPause {};

bool writeInChunks(int fd, const std::string &frame)
{
    constexpr std::size_t CHUNK = 4096;
    Clock::time_point written;
    for (std::size_t at = 0; at < frame.size(); at += CHUNK) {
        const std::size_t size = std::min(CHUNK, frame.size() - at);
        if (::write(fd, frame.data() + at, size) != ssize_t(size))
            return false;
        const auto now = Clock::now();
        if (at > 0 && now - written > g_longestPause) {
            g_longestPause = now - written;
            std::printf("longest pause within a frame: %lld us\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::microseconds>(g_longestPause).count()));
            std::fflush(stdout);
        }
        written = now;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    return true;
}

bool writeFrame(Mode mode, const std::string &destination, const std::string &frame)
{
    const std::string temporary = destination + ".part";
    const std::string &target = mode == Mode::Rename ? temporary : destination;
    const int fd
        = ::open(target.c_str(), O_WRONLY | O_CREAT | (mode == Mode::InPlace ? 0 : O_TRUNC), 0644);
    if (fd < 0)
        return false;
    const bool written = writeInChunks(fd, frame);
    ::close(fd);
    return written
        && (mode != Mode::Rename || std::rename(temporary.c_str(), destination.c_str()) == 0);
}

} // namespace

int main(int argc, char *argv[])
{
    Mode mode = Mode::Truncate;
    double framesPerSecond = 0;
    int arg = 1;
    for (; arg < argc && std::strncmp(argv[arg], "--", 2) == 0; ++arg) {
        if (std::strcmp(argv[arg], "--in-place") == 0)
            mode = Mode::InPlace;
        else if (std::strcmp(argv[arg], "--rename") == 0)
            mode = Mode::Rename;
        else if (std::strcmp(argv[arg], "--fps") == 0 && arg + 1 < argc)
            framesPerSecond = std::atof(argv[++arg]);
        else
            break;
    }
    if (argc - arg < 3) {
        std::fprintf(stderr,
            "usage: %s [--in-place | --rename] [--fps N] DESTINATION ROUNDS SOURCE...\n", argv[0]);
        return 2;
    }
    const std::string destination = argv[arg];
    const long rounds = std::atol(argv[arg + 1]);
    std::vector<std::string> frames;
    for (int i = arg + 2; i < argc; ++i) {
        std::ifstream source(argv[i], std::ios::binary);
        frames.emplace_back(
            std::istreambuf_iterator<char>(source), std::istreambuf_iterator<char>());
    }

    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(framesPerSecond > 0 ? 1 / framesPerSecond : 0));
    auto next = std::chrono::steady_clock::now();
    for (long round = 0; round < rounds; ++round) {
        if (!writeFrame(mode, destination, frames[std::size_t(round) % frames.size()]))
            return 1;
        if (framesPerSecond > 0) {
            next += period;
            std::this_thread::sleep_until(next);
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    }
    return 0;
}
