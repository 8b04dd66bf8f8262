// The single-instance lock and the relaunch, across real processes.
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
