#pragma once
// Opening a file for reading only when it is a regular file. A FIFO opened
// the ordinary way blocks until a writer comes, and a device reads endlessly:
// the file is opened without blocking, its type checked on the open handle,
// and only then made an ordinary blocking handle.

#include <cerrno>
#include <cstdio>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace codiflux {

// A descriptor of `path` (read-only, or read-write when `write`), or -1 with
// errno set (ENODEV for a file that is not a regular one: a directory, FIFO,
// device or socket).
inline int openRegularFile(const char* path, bool write = false)
{
#ifndef _WIN32
    const int fd = ::open(path, (write ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = ENODEV;
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
#else
    (void)path;
    (void)write;
    errno = ENOSYS;
    return -1;
#endif
}

// The same as a stdio stream ("rb", or "r+b" when `write`).
inline std::FILE* fopenRegular(const char* path, bool write = false)
{
#ifndef _WIN32
    const int fd = openRegularFile(path, write);
    if (fd < 0)
        return nullptr;
    std::FILE* file = ::fdopen(fd, write ? "r+b" : "rb");
    if (!file)
        ::close(fd);
    return file;
#else
    return std::fopen(path, write ? "r+b" : "rb");
#endif
}

}  // namespace codiflux
