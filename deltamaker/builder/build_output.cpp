// The package's way to its output: a lock beside the output, a private file the package is
// written to, the read-back verification, and the rename into place.
#include "deltamaker/builder/build_p.h"
#include "deltamaker/builder/fota_log_p.h"
#include "deltamaker/lzma/lzma_lib.h"
#include "deltamaker/verify/package_verify.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <string>
#include <vector>
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

// 0 when the lock file beside the output is held (it then holds our pid), 1 when another
// build holds it, -1 with errno when it cannot be made. The lock is the file's flock: the
// kernel drops it when its process ends, however it ends, and the next build takes it over.
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
    // Our pid, for anyone looking at a lock file left behind; the flock alone decides.
    char pid[32];
    const int n = std::snprintf(pid, sizeof pid, "%ld\n", static_cast<long>(::getpid()));
    const bool noted =
        ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid, static_cast<size_t>(n), 0) == n;
    static_cast<void>(noted); // a lock file that cannot name its owner still locks
    heldFd = fd;
    return 0;
}

bool isHex(const std::string &s, size_t at, size_t n)
{
    if (at + n > s.size())
        return false;
    for (size_t i = at; i < at + n; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(s[i])))
            return false;
    return true;
}

// The process that made a build file, from the first 8 of its 16 hex digits; 0 when the name
// is not one of a build to `base`. Package files are ".<base>.<16 hex>.tmp"; earlier versions
// also left in-place scratch files "..<base>.<16 hex>.tmp.<16 hex>.patch".
long ownerOf(const std::string &name, const std::string &base)
{
    const std::string package = "." + base + ".";
    const std::string scratch = ".." + base + ".";
    size_t at = 0;
    if (name.size() == package.size() + 20 && name.compare(0, package.size(), package) == 0 &&
        name.compare(package.size() + 16, 4, ".tmp") == 0)
        at = package.size();
    else if (name.size() == scratch.size() + 43 && name.compare(0, scratch.size(), scratch) == 0 &&
             name.compare(scratch.size() + 16, 5, ".tmp.") == 0 &&
             isHex(name, scratch.size() + 21, 16) &&
             name.compare(scratch.size() + 37, 6, ".patch") == 0)
        at = scratch.size();
    else
        return 0;
    if (!isHex(name, at, 16))
        return 0;
    const long pid = std::strtol(name.substr(at, 8).c_str(), nullptr, 16);
    return pid > 0 ? pid : -1;
}

// Removes the files that builds to the same output left when their process ended (killed, or
// the machine went down). Called with the output's lock held, so no build to this output is
// running; a file whose maker still runs is left alone all the same.
void removeLeftovers(const std::string &dir, const std::string &base)
{
    DIR *folder = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!folder)
        return;
    std::vector<std::string> gone;
    while (const struct dirent *e = ::readdir(folder)) {
        const std::string name = e->d_name;
        const long pid = ownerOf(name, base);
        if (pid == 0)
            continue;
        const bool ended = pid < 0 || pid == static_cast<long>(::getpid()) ||
                           (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
        if (ended)
            gone.push_back(name);
    }
    ::closedir(folder);
    for (const std::string &name : gone)
        if (::unlink((dir + name).c_str()) == 0)
            fota_log(FOTA_LOG_INFO, "removed %s%s, left behind by an interrupted build\n",
                     dir.c_str(), name.c_str());
}

// Creates the build's package file next to the output (same folder, so that the rename into
// place stays on one file system), exclusively, with `mode` less the umask, its name carrying
// our pid. Empty with errno set when it cannot.
std::string createBeside(const std::string &dir, const std::string &base, mode_t mode)
{
    std::random_device random;
    for (int attempt = 0; attempt < 64; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".%08lx%08x.tmp",
                      static_cast<unsigned long>(::getpid()) & 0xFFFFFFFFul, random());
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
    unregister_build_files(slot_);
    if (!package_.empty() && !committed_)
        ::unlink(package_.c_str());
    if (lockFd_ >= 0) {
        // Only the lock file we hold: a signal handler may have removed it already, and another
        // build may have made a new one since.
        struct stat held;
        struct stat named;
        if (::fstat(lockFd_, &held) == 0 && ::stat(lock_.c_str(), &named) == 0 &&
            held.st_ino == named.st_ino && held.st_dev == named.st_dev)
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
    if (held == 0) {
        removeLeftovers(dir, base);
        package_ = createBeside(dir, base, 0644);
    }
    if (package_.empty()) {
        const int err = errno;
        fota_log(FOTA_LOG_ERROR, request.method == 2 ? kAbWriteTexts.open : kWriteTexts.open,
                 output);
        fota_log(FOTA_LOG_ERROR, "cannot create files beside %s: %s\n", output,
                 std::strerror(err));
        return false;
    }
    slot_ = register_build_files(lock_, package_);
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
