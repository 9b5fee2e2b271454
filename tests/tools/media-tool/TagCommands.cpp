// Tag container commands.
#include "tools/common/ToolCommand.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "media/NTag.h"

namespace {

bool ReadWholeFile(const char* path, std::string& data, std::string& error)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::string("cannot open ") + path + ": " + strerror(errno);
        return false;
    }
    char chunk[65536];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::string("cannot read ") + path + ": " + strerror(errno);
            close(fd);
            return false;
        }
        if (n == 0)
            break;
        data.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

// Reads tag raw data from FILE and writes the container's raw data to standard output.
int TagRoundTrip(int argc, char** argv)
{
    if (argc != 2)
        return ToolFail(argv[0], "usage: tag-roundtrip FILE");
    std::string data, error;
    if (!ReadWholeFile(argv[1], data, error))
        return ToolFail(argv[0], error);
    NTag tag;
    if (!tag.FromRawData(data.data(), data.size()))
        return ToolFail(argv[0], std::string("damaged tag data in ") + argv[1]);
    XBuffer raw;
    if (!tag.ToRawData(raw)) {
        raw.Free();
        return ToolFail(argv[0], "the tag cannot be written as raw data");
    }
    ToolWrite(std::string(reinterpret_cast<const char*>(raw.Data), static_cast<size_t>(raw.Used)));
    raw.Free();
    return 0;
}

const ToolCommand kTagRoundTrip("tag-roundtrip", "FILE", TagRoundTrip);

} // namespace
