// Installations ended at every change they make: by SIGINT, SIGTERM and SIGHUP, which undo the
// installation before the process ends, and by kill -9, whose leftovers the next installation
// and the host at start undo. PkgRun with tessel-pkg, which stops itself after a given change.
#include "host/packages/install_journal.h"
#include "tests/host/packages/package_test_util.h"
#include "tests/support/test_paths.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

namespace {

using Snapshot = QMap<QString, QString>;

QString journalOf(const QString &workDir)
{
    return workDir + QLatin1Char('/') + QLatin1String(Packages::kJournalName);
}

// A working folder with files of several modes, and a package that replaces some, adds others
// in new folders and carries one entry large enough to be written in pieces.
struct Scene {
    Scene()
    {
        wd = root.path() + QStringLiteral("/wd");
        package = root.path() + QStringLiteral("/tool.plug");
        const struct {
            const char *path;
            QByteArray bytes;
            int mode;
        } files[] = {
            {"readme.txt", "old readme", 0444},
            {"plugins/Tool/Tool.so", QByteArray(4000, 'o'), 0555},
            {"config/Tool/index.config", "<Root type=\"0\"/>", 0600},
            {"keep.txt", "not in the package", 0644},
        };
        for (const auto &f : files) {
            EXPECT_TRUE(writeBytes(wd + QLatin1Char('/') + QLatin1String(f.path), f.bytes));
            EXPECT_EQ(::chmod(QFile::encodeName(wd + QLatin1Char('/') + QLatin1String(f.path)).constData(),
                              mode_t(f.mode)), 0);
        }
        EXPECT_TRUE(writeBytes(package, PackageTest::package({
                                            {"readme.txt", "new readme"},
                                            {"plugins/Tool/Tool.so", QByteArray(3 << 20, 'n')},
                                            {"docs/Tool/manual.txt", "manual"},
                                            {"config/Tool/index.config", "<Root type=\"1\"/>"},
                                            {"lang/Tool/en.lang", "<lang name=\"English\"/>"},
                                        })));
        before = PackageTest::snapshot(wd);
    }

    QTemporaryDir root;
    QString wd, package;
    Snapshot before;
};

struct PkgRun {
    bool stopped = false;  // stopped itself at the step asked for
    bool crashed = false;  // ended by a signal
    int code = -1;
    QString output;  // standard output and error
};

bool isStopped(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const int close = line.lastIndexOf(')');
    return close > 0 && line.mid(close + 2, 1) == "T";
}

// Runs `tessel-pkg install` in `wd`, stopping it after change `stopAt` (0: not at all), then
// sends it `signal` (and lets it go on) when it stopped.
PkgRun install(const QString &wd, const QString &package, int stopAt, int signal)
{
    QProcess process;
    process.setWorkingDirectory(wd);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (stopAt > 0)
        env.insert(QStringLiteral("TESSEL_PKG_STOP_AT"), QString::number(stopAt));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(TestPaths::binDir() + QStringLiteral("/tessel-pkg"), {QStringLiteral("install"), package});
    EXPECT_TRUE(process.waitForStarted(10000));
    PkgRun run;
    QElapsedTimer timer;
    timer.start();
    while (stopAt > 0 && !run.stopped && process.state() == QProcess::Running && timer.elapsed() < 30000) {
        run.stopped = isStopped(process.processId());
        if (!run.stopped)
            process.waitForFinished(5);
    }
    if (run.stopped) {
        ::kill(pid_t(process.processId()), signal);
        if (signal != SIGKILL)
            ::kill(pid_t(process.processId()), SIGCONT);
    }
    if (process.state() != QProcess::NotRunning) {
        EXPECT_TRUE(process.waitForFinished(30000));
    }
    run.crashed = process.exitStatus() == QProcess::CrashExit;
    run.code = run.crashed ? -1 : process.exitCode();
    run.output = QString::fromLocal8Bit(process.readAll());
    return run;
}

// Names an installation leaves only while it runs.
QStringList spareNames(const QString &wd)
{
    QStringList out;
    for (const QString &path : PackageTest::snapshot(wd).keys()) {
        if (path.contains(QLatin1String(".tessel-")))
            out << path;
    }
    return out;
}

// The host at start, in `wd`, ending after its first turn of the event loop.
void startHost(const QString &wd)
{
    QProcess host;
    host.setWorkingDirectory(wd);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TESSEL_QUIT_AFTER_LOAD"), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    host.setProcessEnvironment(env);
    host.start(TestPaths::binDir() + QStringLiteral("/Tessel"), {QStringLiteral("-mutex"), QStringLiteral("0")});
    EXPECT_TRUE(host.waitForFinished(60000));
    EXPECT_EQ(host.exitStatus(), QProcess::NormalExit);
}

} // namespace

TEST(InstallInterrupted, EachSignalAtEveryChangeLeavesTheFolderAsItWas)
{
    Scene scene;
    PkgRun full = install(scene.wd, scene.package, 0, 0);
    ASSERT_EQ(full.code, 0) << full.output.toStdString();
    const Snapshot installed = PackageTest::snapshot(scene.wd);
    ASSERT_NE(installed, scene.before);
    EXPECT_EQ(spareNames(scene.wd), QStringList());

    int steps = 0;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        for (int stopAt = 1;; ++stopAt) {
            Scene s;
            const PkgRun run = install(s.wd, s.package, stopAt, signal);
            if (!run.stopped) {
                // Past the last change: the installation ran to its end.
                EXPECT_EQ(run.code, 0) << run.output.toStdString();
                steps = stopAt - 1;
                break;
            }
            const QString at = QStringLiteral("signal %1 after change %2").arg(signal).arg(stopAt);
            EXPECT_TRUE(run.crashed) << at.toStdString(); // ends as the signal says
            EXPECT_FALSE(QFileInfo::exists(journalOf(s.wd))) << at.toStdString();
            EXPECT_EQ(spareNames(s.wd), QStringList()) << at.toStdString();
            // Once every entry is in place, the installation stands.
            const Snapshot now = PackageTest::snapshot(s.wd);
            EXPECT_TRUE(now == s.before || (now == installed && !run.output.contains("interrupted")))
                << at.toStdString() << run.output.toStdString();
            if (now == s.before) {
                EXPECT_TRUE(run.output.contains("The installation was interrupted")) << at.toStdString();
            }
        }
    }
    EXPECT_GT(steps, 20);
}

TEST(InstallInterrupted, KilledInstallationsAreUndoneByTheNextOneAndByTheHost)
{
    int recovered = 0;
    for (int stopAt = 1;; ++stopAt) {
        Scene s;
        const PkgRun run = install(s.wd, s.package, stopAt, SIGKILL);
        if (!run.stopped)
            break;
        const QString at = QStringLiteral("killed after change %1").arg(stopAt);
        ASSERT_TRUE(QFileInfo::exists(journalOf(s.wd))) << at.toStdString();
        const bool done = readBytes(journalOf(s.wd)).endsWith("\ndone\n");
        Snapshot expected = s.before;
        if (done) {
            Scene clean;
            ASSERT_EQ(install(clean.wd, clean.package, 0, 0).code, 0);
            expected = PackageTest::snapshot(clean.wd);
        }
        switch (stopAt % 3) {
        case 0: {
            // The next installation undoes the leftover first, even when it is refused itself.
            const PkgRun next = install(s.wd, s.root.path() + QStringLiteral("/missing.plug"), 0, 0);
            EXPECT_EQ(next.code, 1) << at.toStdString();
            EXPECT_TRUE(next.output.contains(done ? "had ended without removing its backups"
                                               : "An interrupted installation in"))
                << at.toStdString() << next.output.toStdString();
            break;
        }
        case 1:
            startHost(s.wd);
            break;
        case 2: {
            // Installing again succeeds and leaves the installed files only.
            const PkgRun again = install(s.wd, s.package, 0, 0);
            EXPECT_EQ(again.code, 0) << at.toStdString() << again.output.toStdString();
            Scene clean;
            ASSERT_EQ(install(clean.wd, clean.package, 0, 0).code, 0);
            expected = PackageTest::snapshot(clean.wd);
            break;
        }
        }
        EXPECT_FALSE(QFileInfo::exists(journalOf(s.wd))) << at.toStdString();
        EXPECT_EQ(spareNames(s.wd), QStringList()) << at.toStdString();
        EXPECT_EQ(PackageTest::snapshot(s.wd), expected) << at.toStdString();
        ++recovered;
    }
    EXPECT_GT(recovered, 20);
}

TEST(InstallInterrupted, ARunningInstallationIsNotTouchedByAnotherOne)
{
    Scene s;
    QProcess first;
    // Stopped in the middle, holding its journal.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TESSEL_PKG_STOP_AT"), QStringLiteral("4"));
    first.setProcessEnvironment(env);
    first.setWorkingDirectory(s.wd);
    first.start(TestPaths::binDir() + QStringLiteral("/tessel-pkg"), {QStringLiteral("install"), s.package});
    ASSERT_TRUE(first.waitForStarted(10000));
    QElapsedTimer timer;
    timer.start();
    while (!isStopped(first.processId()) && timer.elapsed() < 30000)
        QThread::msleep(5);
    ASSERT_TRUE(isStopped(first.processId()));
    const Snapshot during = PackageTest::snapshot(s.wd);

    const PkgRun second = install(s.wd, s.package, 0, 0);
    EXPECT_EQ(second.code, 1);
    EXPECT_TRUE(second.output.contains("Another installation is running in")) << second.output.toStdString();
    startHost(s.wd);
    EXPECT_EQ(PackageTest::snapshot(s.wd), during);

    // Let go, the first one ends as it would have.
    ::kill(pid_t(first.processId()), SIGCONT);
    ASSERT_TRUE(first.waitForFinished(30000));
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_EQ(spareNames(s.wd), QStringList());
}

TEST(InstallInterrupted, ADamagedJournalStopsInstallationsAndIsLeftToTheUser)
{
    Scene s;
    for (const QByteArray &journal :
         {QByteArray("tessel-install 1\ncreated\t../outside.txt\n"), QByteArray("tessel-install 1\nremove\tkeep.txt\n"),
          QByteArray("something else\n"), QByteArray("tessel-install 1\nkept\treadme.txt\tother.txt\n")}) {
        ASSERT_TRUE(writeBytes(journalOf(s.wd), journal));
        const Snapshot before = PackageTest::snapshot(s.wd);
        const PkgRun run = install(s.wd, s.package, 0, 0);
        EXPECT_EQ(run.code, 1);
        EXPECT_TRUE(run.output.contains("cannot be read")) << run.output.toStdString();
        startHost(s.wd);
        EXPECT_EQ(PackageTest::snapshot(s.wd), before) << journal.constData();
    }
    // A journal cut inside its first line was never acted on.
    ASSERT_TRUE(writeBytes(journalOf(s.wd), "tessel-in"));
    EXPECT_EQ(install(s.wd, s.package, 0, 0).code, 0);
    EXPECT_FALSE(QFileInfo::exists(journalOf(s.wd)));
}
