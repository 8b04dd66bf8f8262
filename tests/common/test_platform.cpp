// The single-instance lock and the relaunch, across real processes.
#include "common/utils.h"
#include "tests/support/test_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <gtest/gtest.h>

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
