#include "common/platform/platform.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace Platform {

LocalTime localTime()
{
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tmv {};
    time_t secs = ts.tv_sec;
    localtime_r(&secs, &tmv);
    LocalTime t;
    t.year = tmv.tm_year + 1900;
    t.month = tmv.tm_mon + 1;
    t.day = tmv.tm_mday;
    t.hour = tmv.tm_hour;
    t.minute = tmv.tm_min;
    t.second = tmv.tm_sec;
    t.millisecond = int(ts.tv_nsec / 1000000);
    return t;
}

std::string currentDirectory()
{
    std::vector<char> buf(PATH_MAX + 1, '\0');
    if (!getcwd(buf.data(), buf.size()))
        return std::string();
    return std::string(buf.data());
}

std::string executablePath()
{
    std::vector<char> buf(PATH_MAX + 1, '\0');
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return std::string();
    return std::string(buf.data(), size_t(n));
}

QString libraryFilter()
{
    return QStringLiteral("*.so");
}

namespace {
// Lock files stay open (and locked) for the life of the process.
std::mutex g_lockMutex;
std::vector<int> g_heldLocks;

std::string lockFolder()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (runtime && *runtime && stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)
        && st.st_uid == getuid() && access(runtime, W_OK) == 0)
        return runtime;
    return std::string();
}
} // namespace

std::string instanceLockPath(const std::string &name)
{
    std::string safe;
    for (char c : name)
        safe += (c == '/' || c == '\\') ? '_' : c;
    const std::string folder = lockFolder();
    if (!folder.empty())
        return folder + "/" + safe + ".lock";
    // The temporary folder is shared by every user: the user id keeps the names apart.
    return QDir::tempPath().toStdString() + "/" + safe + "-" + std::to_string(getuid()) + ".lock";
}

InstanceLock acquireInstanceLock(const std::string &name)
{
    const std::string path = instanceLockPath(name);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0)
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK); // a lock needs no write
    // A file that cannot be opened proves nothing about other copies: only a lock held by a
    // running one may keep this one from starting.
    if (fd < 0)
        return InstanceLock::Unavailable;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        return error == EWOULDBLOCK ? InstanceLock::HeldElsewhere : InstanceLock::Unavailable;
    }
    std::lock_guard<std::mutex> guard(g_lockMutex);
    g_heldLocks.push_back(fd);
    return InstanceLock::Acquired;
}

void acquireInstanceLockWhenFree(const std::string &name)
{
    const std::string path = instanceLockPath(name);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0)
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return;
    // flock blocks until the holder's descriptor closes, that is until it has ended.
    std::thread([fd] {
        int rc;
        do {
            rc = flock(fd, LOCK_EX);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            close(fd);
            return;
        }
        std::lock_guard<std::mutex> guard(g_lockMutex);
        g_heldLocks.push_back(fd);
    }).detach();
}

namespace {
std::mutex g_notifyMutex;
bool g_notifyRead = false;
int g_notifyFd = -1;

// The descriptor named by the variable, taken once: the variable is removed so that programs
// this process starts do not see it, and the descriptor is closed on their exec.
int takeNotifyFd(const char *variable)
{
    std::lock_guard<std::mutex> guard(g_notifyMutex);
    if (!g_notifyRead) {
        g_notifyRead = true;
        const char *value = std::getenv(variable);
        if (value && *value) {
            char *end = nullptr;
            const long fd = std::strtol(value, &end, 10);
            if (end && *end == '\0' && fd > 2 && fd < INT_MAX && fcntl(int(fd), F_GETFD) >= 0) {
                g_notifyFd = int(fd);
                fcntl(g_notifyFd, F_SETFD, FD_CLOEXEC);
            }
        }
        unsetenv(variable);
    }
    return g_notifyFd;
}
} // namespace

bool startedWithNotify(const char *notifyVariable)
{
    return takeNotifyFd(notifyVariable) >= 0;
}

void reportStarted(const char *notifyVariable)
{
    const int fd = takeNotifyFd(notifyVariable);
    std::lock_guard<std::mutex> guard(g_notifyMutex);
    if (fd < 0 || g_notifyFd < 0)
        return;
    const char byte = 'R';
    ssize_t n;
    do {
        n = write(fd, &byte, 1);
    } while (n < 0 && errno == EINTR);
    close(fd);
    g_notifyFd = -1;
}

StartResult startDetachedAndWait(const QString &program, const QStringList &arguments,
                                 const QString &workingDirectory, const char *notifyVariable,
                                 int timeoutMs)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return StartResult::Ended;

    // Everything the child needs is prepared here: after fork only async-signal-safe calls.
    std::vector<std::string> args{program.toLocal8Bit().toStdString()};
    for (const QString &a : arguments)
        args.push_back(a.toLocal8Bit().toStdString());
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const std::string prefix = std::string(notifyVariable) + "=";
    std::vector<std::string> env;
    for (char **e = environ; e && *e; ++e)
        if (std::strncmp(*e, prefix.c_str(), prefix.size()) != 0)
            env.emplace_back(*e);
    env.push_back(prefix + std::to_string(fds[1]));
    std::vector<char *> envp;
    for (std::string &e : env)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);
    const std::string dir = workingDirectory.toLocal8Bit().toStdString();

    const pid_t child = fork();
    if (child < 0) {
        close(fds[0]);
        close(fds[1]);
        return StartResult::Ended;
    }
    if (child == 0) {
        // The grandchild runs the program, detached from this process and its session.
        setsid();
        if (fork() != 0)
            _exit(0);
        if (chdir(dir.c_str()) != 0)
            _exit(127);
        fcntl(fds[1], F_SETFD, 0);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(fds[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }

    StartResult result = StartResult::Silent;
    struct timespec start {};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        struct timespec now {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (elapsed >= timeoutMs)
            break;
        struct pollfd p {fds[0], POLLIN, 0};
        const int rc = poll(&p, 1, int(timeoutMs - elapsed));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            break;
        char byte = 0;
        const ssize_t n = read(fds[0], &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        // No byte and the pipe closed: the program never ran or ended before it said so.
        result = n == 1 ? StartResult::Reported : StartResult::Ended;
        break;
    }
    close(fds[0]);
    return result;
}

bool startDetached(const QString &program, const QStringList &arguments,
                   const QString &workingDirectory)
{
    return QProcess::startDetached(program, arguments, workingDirectory);
}

bool shellOpen(const QString &path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

namespace {
bool isSet(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value;
}

// One platform of a list, options (":port=5900") cut off.
bool platformCanShow(std::string name)
{
    name = name.substr(0, name.find(':'));
    if (name.empty() || name == "xcb")
        return isSet("DISPLAY");
    if (name.compare(0, 7, "wayland") == 0)
        return isSet("WAYLAND_DISPLAY");
    return true;
}
} // namespace

bool displayReachable(int argc, const char *const *argv)
{
    std::string platforms;
    if (isSet("QT_QPA_PLATFORM"))
        platforms = std::getenv("QT_QPA_PLATFORM");
    // Qt reads "-platform NAME" (or "--platform NAME") after the environment, so it wins.
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            platforms = argv[++i];
    // Qt's default is xcb, or wayland in a Wayland session: either variable will do.
    if (platforms.empty())
        return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
    size_t from = 0;
    for (;;) {
        const size_t end = platforms.find(';', from);
        if (platformCanShow(platforms.substr(from, end - from)))
            return true;
        if (end == std::string::npos)
            return false;
        from = end + 1;
    }
}

const char *noDisplayMessage()
{
    return "Tessel: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
           "To get the window: start Tessel in a desktop session, log in with \"ssh -X\" to bring\n"
           "it to your own screen, or put it on Qt's VNC platform and point a VNC viewer at it:\n"
           "\"./run.sh --vnc\" in the source folder prints the address (elsewhere, QT_QPA_PLATFORM=vnc).\n";
}

} // namespace Platform
