// The single-instance lock and the relaunch, across real processes; the display check.
#include "common/platform/platform.h"
#include "common/utils.h"
#include "tests/support/test_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <gtest/gtest.h>

#include <unistd.h>

#include <vector>

namespace {
QString helper()
{
    return TestPaths::binDir() + "/platform_helper";
}

// Starts a helper that takes the lock and reports whether it was taken already.
QString startLockHolder(QProcess &p, const QString &name)
{
    p.start(helper(), {"lock", name});
    if (!p.waitForStarted(10000) || !p.waitForReadyRead(10000))
        return QString();
    return QString::fromLatin1(p.readLine()).trimmed();
}
} // namespace

TEST(AlreadyRunning, AcrossProcesses)
{
    const QString name = "tessel-test-" + QUuid::createUuid().toString(QUuid::Id128);
    QProcess first;
    EXPECT_EQ(startLockHolder(first, name), "running=0");

    QProcess second;
    EXPECT_EQ(startLockHolder(second, name), "running=1");
    second.closeWriteChannel();
    ASSERT_TRUE(second.waitForFinished(10000));

    first.closeWriteChannel();
    ASSERT_TRUE(first.waitForFinished(10000));

    QProcess third;
    EXPECT_EQ(startLockHolder(third, name), "running=0");
    third.closeWriteChannel();
    ASSERT_TRUE(third.waitForFinished(10000));
}

TEST(AlreadyRunning, SecondCallInTheSameProcessSeesTheName)
{
    const std::string name = "tessel-test-" + QUuid::createUuid().toString(QUuid::Id128).toStdString();
    EXPECT_FALSE(alreadyRunning(name));
    EXPECT_TRUE(alreadyRunning(name));
}

namespace {
std::string freshName()
{
    return "tessel-test-" + QUuid::createUuid().toString(QUuid::Id128).toStdString();
}

// Sets or clears an environment variable for one scope.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const QByteArray &value) : m_name(name), m_had(qEnvironmentVariableIsSet(name)),
        m_old(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};
} // namespace

TEST(AlreadyRunning, OnlyALockHeldByARunningCopyBlocks)
{
    // A lock file left behind by a copy that has ended.
    const std::string stale = freshName();
    const QString stalePath = QString::fromStdString(Platform::instanceLockPath(stale));
    {
        QFile f(stalePath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_FALSE(alreadyRunning(stale));
    EXPECT_TRUE(alreadyRunning(stale)); // now held by this process
    QFile::remove(stalePath);

    // A lock that cannot be opened at all (a link that is never followed; a folder).
    const std::string unusable = freshName();
    const QString unusablePath = QString::fromStdString(Platform::instanceLockPath(unusable));
    ASSERT_TRUE(QFile::link("/nonexistent/tessel", unusablePath));
    EXPECT_EQ(Platform::acquireInstanceLock(unusable), Platform::InstanceLock::Unavailable);
    EXPECT_FALSE(alreadyRunning(unusable));
    QFile::remove(unusablePath);
    EXPECT_FALSE(QFileInfo::exists("/nonexistent/tessel"));

    const std::string folder = freshName();
    const QString folderPath = QString::fromStdString(Platform::instanceLockPath(folder));
    ASSERT_TRUE(QDir().mkpath(folderPath));
    EXPECT_FALSE(alreadyRunning(folder));
    QDir(folderPath).removeRecursively();
}

TEST(AlreadyRunning, TheLockIsKeptPerUser)
{
    const std::string uid = std::to_string(getuid());
    {
        ScopedEnv env("XDG_RUNTIME_DIR", QByteArray());
        EXPECT_EQ(Platform::instanceLockPath("Tessel"),
                  QDir::tempPath().toStdString() + "/Tessel-" + uid + ".lock");
        EXPECT_EQ(Platform::instanceLockPath("a/b"),
                  QDir::tempPath().toStdString() + "/a_b-" + uid + ".lock");
    }
    QTemporaryDir own;
    {
        ScopedEnv env("XDG_RUNTIME_DIR", own.path().toLocal8Bit());
        EXPECT_EQ(Platform::instanceLockPath("Tessel"), own.path().toStdString() + "/Tessel.lock");
    }
    {
        // A runtime folder that does not exist is not used.
        ScopedEnv env("XDG_RUNTIME_DIR", "/nonexistent/run");
        EXPECT_EQ(Platform::instanceLockPath("Tessel"),
                  QDir::tempPath().toStdString() + "/Tessel-" + uid + ".lock");
    }
    if (getuid() == 0) {
        // Someone else's runtime folder is not used either.
        QTemporaryDir other;
        ASSERT_EQ(chown(other.path().toLocal8Bit().constData(), 65534, 65534), 0);
        ScopedEnv env("XDG_RUNTIME_DIR", other.path().toLocal8Bit());
        EXPECT_EQ(Platform::instanceLockPath("Tessel"),
                  QDir::tempPath().toStdString() + "/Tessel-" + uid + ".lock");
    }
}

TEST(Relaunch, StartsACopyWithTheOptionsInTheSameFolder)
{
    QTemporaryDir work;
    const QString record = work.path() + "/record.txt";
    QProcess parent;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TESSEL_RECORD_FILE", record);
    parent.setProcessEnvironment(env);
    parent.setWorkingDirectory(work.path());
    parent.start(helper(), {"relaunch", "-c", "Deltamaker", "-mutex", "0", "-x", "5"});
    ASSERT_TRUE(parent.waitForFinished(10000));
    EXPECT_EQ(parent.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(parent.exitCode(), 0);

    QElapsedTimer timer;
    timer.start();
    while (!QFile::exists(record) && timer.elapsed() < 10000)
        QThread::msleep(20);
    QFile f(record);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "the relaunched copy did not run";
    const QString text = QString::fromLocal8Bit(f.readAll());
    EXPECT_EQ(text, "cwd=" + QDir(work.path()).canonicalPath() + "\n"
                    "arg=-c\narg=Deltamaker\narg=-mutex\narg=0\narg=-x\narg=5\n");
}

namespace {
// Sets the display variables for one test and puts the process's own back afterwards.
class DisplayEnvironment {
public:
    DisplayEnvironment(const char *display, const char *wayland, const char *platform)
    {
        for (const char *name : kNames)
            saved_.push_back(qgetenv(name));
        set("DISPLAY", display);
        set("WAYLAND_DISPLAY", wayland);
        set("QT_QPA_PLATFORM", platform);
    }
    ~DisplayEnvironment()
    {
        for (size_t i = 0; i < saved_.size(); ++i)
            set(kNames[i], saved_[i].isNull() ? nullptr : saved_[i].constData());
    }

private:
    static void set(const char *name, const char *value)
    {
        if (value)
            qputenv(name, value);
        else
            qunsetenv(name);
    }
    static constexpr const char *kNames[] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    std::vector<QByteArray> saved_;
};

bool reachable(std::vector<const char *> argv)
{
    argv.insert(argv.begin(), "Tessel");
    return Platform::displayReachable(int(argv.size()), argv.data());
}
} // namespace

TEST(DisplayReachable, DefaultPlatformNeedsADisplay)
{
    {
        DisplayEnvironment env(nullptr, nullptr, nullptr);
        EXPECT_FALSE(reachable({}));
        EXPECT_FALSE(reachable({"-mutex", "0"}));
    }
    {
        DisplayEnvironment env("", "", ""); // empty is unset
        EXPECT_FALSE(reachable({}));
    }
    {
        DisplayEnvironment env(":0", nullptr, nullptr);
        EXPECT_TRUE(reachable({}));
    }
    {
        DisplayEnvironment env(nullptr, "wayland-0", nullptr);
        EXPECT_TRUE(reachable({}));
    }
}

TEST(DisplayReachable, NamedPlatforms)
{
    DisplayEnvironment env(nullptr, nullptr, nullptr);
    const struct {
        const char *platform;
        bool reachable;
    } cases[] = {
        {"xcb", false},         {"wayland", false},       {"wayland-egl", false},
        {"wayland;xcb", false}, {"offscreen", true},      {"minimal", true},
        {"vnc", true},          {"vnc:port=5901", true},  {"xcb;offscreen", true},
        {"linuxfb", true},      {"eglfs", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.platform);
        qputenv("QT_QPA_PLATFORM", c.platform);
        EXPECT_EQ(reachable({}), c.reachable);
        qunsetenv("QT_QPA_PLATFORM");
        EXPECT_EQ(reachable({"-platform", c.platform}), c.reachable);
        EXPECT_EQ(reachable({"--platform", c.platform}), c.reachable);
    }
    // A platform with its own display variable, and the option over the environment.
    qputenv("DISPLAY", ":1");
    EXPECT_TRUE(reachable({"-platform", "xcb"}));
    EXPECT_FALSE(reachable({"-platform", "wayland"}));
    qputenv("QT_QPA_PLATFORM", "wayland");
    EXPECT_FALSE(reachable({}));
    EXPECT_TRUE(reachable({"-platform", "xcb"}));
    qunsetenv("DISPLAY");
    qputenv("QT_QPA_PLATFORM", "xcb");
    EXPECT_TRUE(reachable({"-platform", "offscreen"}));
    // "-platform" as the last argument has no value: Qt ignores it, and so does the check.
    EXPECT_FALSE(reachable({"-platform"}));
}

TEST(DisplayReachable, MessageSaysWhatIsMissingAndHowToGetTheWindow)
{
    const QString text = QString::fromUtf8(Platform::noDisplayMessage());
    EXPECT_TRUE(text.startsWith("Tessel: no display")) << text.toStdString();
    EXPECT_TRUE(text.contains("neither DISPLAY nor WAYLAND_DISPLAY is set"));
    EXPECT_TRUE(text.contains("ssh -X"));
    EXPECT_TRUE(text.contains("./run.sh --vnc"));
    EXPECT_TRUE(text.endsWith('\n'));
}
