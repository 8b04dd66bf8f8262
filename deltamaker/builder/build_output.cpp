// The package's way to its output: a lock beside the output, a private file the package is
// written to, the read-back verification, and the rename into place.
#include "deltamaker/builder/build_p.h"
#include "deltamaker/builder/fota_log_p.h"
#include "deltamaker/lzma/lzma_lib.h"
#include "deltamaker/verify/package_verify.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace deltamaker::detail {

namespace {

// The folder part of `path` (with its slash) and the name part.
void splitPath(const std::string &path, std::string &dir, std::string &base)
{
    const size_t slash = path.rfind('/');
    dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    base = slash == std::string::npos ? path : path.substr(slash + 1);
}

// 0 when the lock file beside the output is held, 1 when another build holds it, -1 with errno
// when it cannot be made.
int takeLock(const std::string &path, int &heldFd)
{
    const int fd = ::open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    struct stat held;
    struct stat named;
    // The holder before us may have removed the file after we opened it: then the lock we got
    // is on a file nobody else will see, and another build may hold the new one.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &held) != 0 ||
        ::stat(path.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
        held.st_dev != named.st_dev) {
        ::close(fd);
        return 1;
    }
    heldFd = fd;
    return 0;
}

// Creates a file of the build's own next to the output (same folder, so that the rename into
// place stays on one file system), exclusively, with `mode` less the umask. Empty with errno
// set when it cannot.
std::string createBeside(const std::string &dir, const std::string &base, const char *tag,
                         mode_t mode)
{
    std::random_device random;
    for (int attempt = 0; attempt < 64; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".%08x%08x.%s", random(), random(), tag);
        const std::string path = dir + "." + base + suffix;
        const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, mode);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST)
            return std::string();
    }
    errno = EEXIST;
    return std::string();
}

} // namespace

BuildOutput::~BuildOutput()
{
    if (!package_.empty() && !committed_)
        ::unlink(package_.c_str());
    if (lockFd_ >= 0) {
        ::unlink(lock_.c_str());
        ::close(lockFd_);
    }
}

bool BuildOutput::begin(const PackRequest &request)
{
    const char *output = request.output_path;
    std::string dir;
    std::string base;
    splitPath(output, dir, base);
    lock_ = dir + "." + base + ".lock";
    const int held = takeLock(lock_, lockFd_);
    if (held == 1) {
        fota_log(FOTA_LOG_ERROR, "output %s is being written by another build\n", output);
        return false;
    }
    if (held == 0)
        package_ = createBeside(dir, base, "tmp", 0644);
    if (package_.empty()) {
        const int err = errno;
        fota_log(FOTA_LOG_ERROR, request.method == 2 ? kAbWriteTexts.open : kWriteTexts.open,
                 output);
        fota_log(FOTA_LOG_ERROR, "cannot create files beside %s: %s\n", output,
                 std::strerror(err));
        return false;
    }
    return true;
}

bool BuildOutput::commit(const char *output)
{
    if (::rename(package_.c_str(), output) != 0) {
        fota_log(FOTA_LOG_ERROR, "cannot move the package into place at %s: %s\n", output,
                 std::strerror(errno));
        return false;
    }
    committed_ = true;
    return true;
}

bool verify_written(const PackRequest &request, const char *packagePath)
{
    fota_progress("verifying", -1);
    LzmaReleaseCache(); // compression is over; the read-back should not carry its tables
    PackageInputs in;
    in.partition = request.partition_path;
    in.boot = request.boot_path;
    in.oldImage = request.old_path;
    in.newImage = request.new_path;
    in.nv1 = request.nv1_path;
    in.nv2 = request.nv2_path;
    in.method = request.method;
    const std::vector<std::string> findings = run_package_check(packagePath, in);
    if (!findings.empty()) {
        fota_log(FOTA_LOG_ERROR, "package verification failed: %s\n", findings.front().c_str());
        return false;
    }
    fota_log(FOTA_LOG_INFO, "package verified\n");
    return true;
}

} // namespace deltamaker::detail
