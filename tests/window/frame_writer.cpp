// Rewrites a frame file the way a simple frame grabber does, truncating it and writing it in
// chunks with pauses, over and over, taking each time the next of the given source files.
//   frame_writer DESTINATION ROUNDS SOURCE...

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char *argv[])
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s DESTINATION ROUNDS SOURCE...\n", argv[0]);
        return 2;
    }
    std::vector<std::string> frames;
    for (int i = 3; i < argc; ++i) {
        std::ifstream source(argv[i], std::ios::binary);
        frames.emplace_back(
            std::istreambuf_iterator<char>(source), std::istreambuf_iterator<char>());
    }
    constexpr std::size_t CHUNK = 4096;
    const long rounds = std::atol(argv[2]);
    for (long round = 0; round < rounds; ++round) {
        const std::string &frame = frames[std::size_t(round) % frames.size()];
        const int fd = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            return 1;
        for (std::size_t at = 0; at < frame.size(); at += CHUNK) {
            const std::size_t size = std::min(CHUNK, frame.size() - at);
            if (::write(fd, frame.data() + at, size) != ssize_t(size))
                return 1;
            ::usleep(150);
        }
        ::close(fd);
        ::usleep(300);
    }
    return 0;
}
