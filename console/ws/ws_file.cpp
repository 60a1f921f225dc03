// SPDX-License-Identifier: MIT
#include "ws_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>

namespace {
struct OpenFile {
    bool text;
    bool ended;  // a 0x1A was seen: no data after it
};
std::map<int, OpenFile> openFiles;

ssize_t ReadSome(int fd, void *buffer, std::size_t count) {
    ssize_t got;
    do got = ::read(fd, buffer, count);
    while (got < 0 && errno == EINTR);
    return got;
}

// CR LF becomes LF; 0x1A ends the data. A CR that is the last byte read
// looks at the next byte of the file to decide.
int TranslateText(int fd, OpenFile &file, unsigned char *data, std::size_t length) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char byte = data[i];
        if (byte == 0x1A) {
            file.ended = true;
            break;
        }
        if (byte != '\r') {
            data[out++] = byte;
            continue;
        }
        if (i + 1 < length) {
            if (data[i + 1] == '\n') {
                data[out++] = '\n';
                ++i;
            } else {
                data[out++] = '\r';
            }
            continue;
        }
        unsigned char next = 0;
        if (ReadSome(fd, &next, 1) == 1) {
            if (next == '\n') {
                data[out++] = '\n';
                continue;
            }
            ::lseek(fd, -1, SEEK_CUR);
        }
        data[out++] = '\r';
    }
    return int(out);
}
}  // namespace

int _sopen(const char *filename, int oflag, int, int) {
    constexpr int kWriteModes = 0x0003;  // write-only, read-write
    if (!filename || (oflag & kWriteModes)) {
        errno = EINVAL;
        return -1;
    }
    // Non-blocking so that a FIFO without writer cannot hang the console.
    const int fd = ::open(filename, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EACCES;
        return -1;
    }
    openFiles[fd] = OpenFile{(oflag & _O_BINARY) == 0, false};
    return fd;
}

int _read(int fd, void *buffer, unsigned int count) {
    auto found = openFiles.find(fd);
    if (found == openFiles.end() || !buffer) {
        errno = EBADF;
        return -1;
    }
    OpenFile &file = found->second;
    if (file.ended || count == 0) return 0;
    const ssize_t got = ReadSome(fd, buffer, count);
    if (got <= 0) return int(got);
    if (!file.text) return int(got);
    return TranslateText(fd, file, static_cast<unsigned char *>(buffer), std::size_t(got));
}

int _close(int fd) {
    if (openFiles.erase(fd) == 0) {
        errno = EBADF;
        return -1;
    }
    return ::close(fd);
}
