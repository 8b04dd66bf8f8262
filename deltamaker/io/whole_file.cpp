#include "deltamaker/io/whole_file.h"

#include "deltamaker/format/firmware_layout.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace deltamaker::detail {

InputProblem input_file_problem(const char *path, std::string &why)
{
    struct stat st;
    if (::stat(path, &st) != 0) {
        why = std::strerror(errno);
        return InputProblem::Unreadable;
    }
    if (!S_ISREG(st.st_mode)) {
        why = S_ISDIR(st.st_mode)                        ? "a folder"
              : S_ISFIFO(st.st_mode)                     ? "a FIFO"
              : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
              : S_ISSOCK(st.st_mode)                     ? "a socket"
                                                         : "not a regular file";
        return InputProblem::NotAFile;
    }
    const int fd = ::open(path, O_RDONLY | O_BINARY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return InputProblem::Unreadable;
    }
    ::close(fd);
    why.clear();
    return InputProblem::None;
}


bool read_file_bytes(const std::string &path, std::vector<uint8_t> &out, std::string &error,
                     uint64_t maxSize)
{
    out.clear();
    std::string why;
    switch (input_file_problem(path.c_str(), why)) {
    case InputProblem::None:
        break;
    case InputProblem::Unreadable:
        error = "cannot open " + path + ": " + why;
        return false;
    case InputProblem::NotAFile:
        error = path + " is " + why + ", not a regular file";
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "cannot open " + path + ": " + std::strerror(fd < 0 ? errno : EINVAL);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (size > maxSize) {
        ::close(fd);
        error = format_text("%s is %llu bytes, more than the %llu it can have", path.c_str(),
                            static_cast<unsigned long long>(size),
                            static_cast<unsigned long long>(maxSize));
        return false;
    }
    // One read of the size found; a file that changed meanwhile reads short or long and fails.
    out.resize(static_cast<size_t>(size));
    size_t got = 0;
    bool ok = true;
    while (ok && got < out.size()) {
        const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            got += static_cast<size_t>(n);
    }
    uint8_t extra = 0;
    if (ok && ::read(fd, &extra, 1) != 0)
        ok = false;
    ::close(fd);
    if (!ok) {
        out.clear();
        error = "cannot read " + path + ": it changed while it was read";
        return false;
    }
    return true;
}

} // namespace deltamaker::detail
