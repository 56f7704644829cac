// The least a search of a list file must do, on one thread: read the file, cut it at LF
// (dropping a CR before it) and hash each line with XXH3. quorvel-find's time is compared
// against it. Prints the lines and a checksum of their hashes, so nothing is left out.
//
// usage: floor FILE
#include <xxhash.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char *argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: floor FILE\n");
        return 2;
    }
    const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "floor: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    constexpr std::size_t Block = std::size_t(1) << 20;
    std::vector<char> buffer(2 * Block);
    std::size_t held = 0; // the start of a line cut by the block before
    std::uint64_t lines = 0, sum = 0;
    auto line = [&](const char *begin, const char *end) {
        if (end > begin && end[-1] == '\r')
            --end;
        sum += XXH3_64bits(begin, std::size_t(end - begin));
        ++lines;
    };
    for (;;) {
        if (buffer.size() - held < Block)
            buffer.resize(held + Block);
        const ssize_t got = ::read(fd, buffer.data() + held, Block);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "floor: %s: %s\n", argv[1], std::strerror(errno));
            return 1;
        }
        const char *begin = buffer.data();
        const char *end = begin + held + std::size_t(got);
        if (got == 0) {
            if (end > begin)
                line(begin, end);
            break;
        }
        for (const char *lf;
             (lf = static_cast<const char *>(std::memchr(begin, '\n', std::size_t(end - begin))));
             begin = lf + 1)
            line(begin, lf);
        held = std::size_t(end - begin);
        std::memmove(buffer.data(), begin, held);
    }
    ::close(fd);
    std::printf("%llu lines, hash sum %016llx\n", static_cast<unsigned long long>(lines),
                static_cast<unsigned long long>(sum));
    return 0;
}
