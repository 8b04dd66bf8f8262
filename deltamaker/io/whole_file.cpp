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

namespace {

const char *kindOf(mode_t mode)
{
    return S_ISDIR(mode)                       ? "a folder"
           : S_ISFIFO(mode)                    ? "a FIFO"
           : S_ISCHR(mode) || S_ISBLK(mode)    ? "a device"
           : S_ISSOCK(mode)                    ? "a socket"
                                               : "not a regular file";
}

} // namespace

InputProblem InputFile::open(const char *path, std::string &why, bool *statFailed)
{
    close();
    if (statFailed)
        *statFailed = false;
    struct stat named;
    if (::stat(path, &named) != 0) {
        why = std::strerror(errno);
        if (statFailed)
            *statFailed = true;
        return InputProblem::Unreadable;
    }
    if (!S_ISREG(named.st_mode)) {
        why = kindOf(named.st_mode);
        return InputProblem::NotAFile;
    }
    // Non-blocking: a FIFO put in place after the stat must not hang the build.
    const int fd = ::open(path, O_RDONLY | O_BINARY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return InputProblem::Unreadable;
    }
    struct stat opened;
    if (::fstat(fd, &opened) != 0) {
        why = std::strerror(errno);
        ::close(fd);
        return InputProblem::Unreadable;
    }
    if (!S_ISREG(opened.st_mode)) {
        why = kindOf(opened.st_mode);
        ::close(fd);
        return InputProblem::NotAFile;
    }
    fd_ = fd;
    size_ = static_cast<uint64_t>(opened.st_size);
    why.clear();
    return InputProblem::None;
}

int64_t InputFile::readAt(uint64_t offset, uint8_t *buffer, size_t n) const
{
    if (fd_ < 0)
        return -1;
    size_t got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd_, buffer + got, n - got, static_cast<off_t>(offset + got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        got += static_cast<size_t>(r);
    }
    return static_cast<int64_t>(got);
}

bool InputFile::readWhole(std::vector<uint8_t> &out) const
{
    out.clear();
    if (fd_ < 0)
        return false;
    out.resize(static_cast<size_t>(size_));
    uint8_t extra = 0;
    // A file that changed meanwhile reads short or long and fails.
    if (readAt(0, out.data(), out.size()) != static_cast<int64_t>(out.size()) ||
        readAt(size_, &extra, 1) != 0) {
        out.clear();
        return false;
    }
    return true;
}

void InputFile::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    size_ = 0;
}

InputProblem input_file_problem(const char *path, std::string &why)
{
    InputFile file;
    return file.open(path, why);
}

bool read_file_bytes(const std::string &path, std::vector<uint8_t> &out, std::string &error,
                     uint64_t maxSize)
{
    out.clear();
    InputFile file;
    std::string why;
    switch (file.open(path.c_str(), why)) {
    case InputProblem::None:
        break;
    case InputProblem::Unreadable:
        error = "cannot open " + path + ": " + why;
        return false;
    case InputProblem::NotAFile:
        error = path + " is " + why + ", not a regular file";
        return false;
    }
    if (file.size() > maxSize) {
        error = format_text("%s is %llu bytes, more than the %llu it can have", path.c_str(),
                            static_cast<unsigned long long>(file.size()),
                            static_cast<unsigned long long>(maxSize));
        return false;
    }
    if (!file.readWhole(out)) {
        error = "cannot read " + path + ": it changed while it was read";
        return false;
    }
    return true;
}

} // namespace deltamaker::detail
