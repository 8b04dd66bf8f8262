// A start without a display: Tessel's own refusal, run.sh's command-line demonstration
// (scripts/headless.sh demo) and the window on Qt's VNC platform (scripts/headless.sh vnc),
// all with the display variables unset, on the built tree.
#include "common/platform/platform.h"
#include "tests/support/process_run.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The test's environment without any display or platform choice.
QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    return env;
}

QString script()
{
    return TestPaths::sourceDir() + "/scripts/headless.sh";
}

// A socket connected to the local port, or -1.
int connectLocal(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

bool portOpen(int port)
{
    const int fd = connectLocal(port);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

// The first bytes the server on the local port sends ("" when none).
QByteArray greeting(int port)
{
    const int fd = connectLocal(port);
    if (fd < 0)
        return QByteArray();
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    char buf[12];
    size_t have = 0;
    while (have < sizeof buf) {
        const ssize_t n = ::read(fd, buf + have, sizeof buf - have);
        if (n <= 0)
            break;
        have += static_cast<size_t>(n);
    }
    ::close(fd);
    return QByteArray(buf, static_cast<int>(have));
}

} // namespace

TEST(HeadlessStart, TesselWithoutADisplaySaysHowToGetTheWindow)
{
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const QString tessel = TestPaths::binDir() + "/Tessel";
    QProcessEnvironment env = withoutDisplay();
    const ProcessRun bare = runProcess(tessel, {"-mutex", "0"}, work.path(), env);
    EXPECT_EQ(bare.code, 1) << "an abort instead of an exit";
    EXPECT_EQ(bare.err, QString::fromUtf8(Platform::noDisplayMessage()));
    EXPECT_FALSE(bare.err.contains("platform plugin"));

    // A platform that needs a display, named by the environment or the option.
    env.insert("QT_QPA_PLATFORM", "xcb");
    EXPECT_EQ(runProcess(tessel, {"-mutex", "0"}, work.path(), env).err,
              QString::fromUtf8(Platform::noDisplayMessage()));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    EXPECT_EQ(runProcess(tessel, {"-mutex", "0", "-platform", "xcb"}, work.path(), env).code, 1);

    // One that needs none starts as ever.
    env.insert("TESSEL_QUIT_AFTER_LOAD", "1");
    const ProcessRun offscreen = runProcess(tessel, {"-mutex", "0"}, work.path(), env);
    EXPECT_EQ(offscreen.code, 0) << offscreen.err.toStdString();
    EXPECT_FALSE(offscreen.err.contains("no display"));
}

TEST(HeadlessStart, DemoBuildsAndVerifiesAPackageForEachBoard)
{
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    QElapsedTimer timer;
    timer.start();
    const ProcessRun demo = runProcess(
        "bash", {script(), "demo", TestPaths::buildDir(), out.path()}, out.path(), withoutDisplay());
    ASSERT_EQ(demo.code, 0) << demo.out.toStdString() << demo.err.toStdString();
    EXPECT_LT(timer.elapsed(), 60000);
    EXPECT_TRUE(demo.err.isEmpty()) << demo.err.toStdString();
    EXPECT_TRUE(demo.out.startsWith("There is no display here (neither DISPLAY nor WAYLAND_DISPLAY "
                                    "is set), so instead of\nTessel's window, here is its package "
                                    "builder at work on the command line.\n"))
        << demo.out.toStdString();
    for (const char *board : {"ZN3150", "KLM4410"}) {
        SCOPED_TRACE(board);
        const QString pkg = QString(board).toLower() + "_m3.pkg";
        const QRegularExpression row(QString("\n  %1 +3 \\(in-place\\) +\\d+ B  %2 +(\\d+) B +"
                                             "\\d+\\.\\d\\d s  verified\n")
                                         .arg(board, QRegularExpression::escape(pkg)));
        const QRegularExpressionMatch m = row.match(demo.out);
        ASSERT_TRUE(m.hasMatch()) << demo.out.toStdString();
        EXPECT_EQ(m.captured(1).toLongLong(), QFile(out.filePath(pkg)).size());
        const ProcessRun info = runProcess(TestPaths::binDir() + "/deltamaker", {"info", pkg}, out.path());
        EXPECT_EQ(info.code, 0) << info.out.toStdString();
    }
    // The way to the window is the one Tessel gives itself, after its first line.
    const QString message = QString::fromUtf8(Platform::noDisplayMessage());
    EXPECT_TRUE(demo.out.endsWith("\n\n" + message.mid(message.indexOf('\n') + 1)))
        << demo.out.toStdString();
    // Nothing else is written next to the packages.
    EXPECT_EQ(QDir(out.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST(HeadlessStart, VncServesTheWindowUntilStopped)
{
    QProcess vnc;
    QProcessEnvironment env = withoutDisplay();
    // Away from 5900, where a real VNC server may listen, and apart per run.
    env.insert("TESSEL_VNC_PORT", QString::number(20000 + ::getpid() % 20000));
    vnc.setProcessEnvironment(env);
    vnc.start("bash", {script(), "vnc", TestPaths::buildDir(), "-mutex", "0"});
    ASSERT_TRUE(vnc.waitForStarted(10000));
    QString out;
    QElapsedTimer timer;
    timer.start();
    const QRegularExpression ready("on port (\\d+)\\. Point a VNC viewer at\n");
    while (!ready.match(out).hasMatch() && vnc.state() == QProcess::Running && timer.elapsed() < 90000) {
        vnc.waitForReadyRead(1000);
        out += QString::fromUtf8(vnc.readAllStandardOutput());
    }
    const QRegularExpressionMatch m = ready.match(out);
    ASSERT_TRUE(m.hasMatch()) << out.toStdString() << vnc.readAllStandardError().toStdString();
    const int port = m.captured(1).toInt();
    EXPECT_GE(port, 20000);
    EXPECT_TRUE(out.contains(QString("localhost::%1").arg(port))) << out.toStdString();
    EXPECT_TRUE(out.contains("asks for no password"));

    // The RFB protocol's greeting: "RFB 003.003\n".
    EXPECT_TRUE(greeting(port).startsWith("RFB 003.00"));

    vnc.terminate(); // what Ctrl-C does too: the script ends Tessel, then itself
    ASSERT_TRUE(vnc.waitForFinished(30000));
    timer.restart();
    while (portOpen(port) && timer.elapsed() < 10000)
        ::usleep(100 * 1000);
    EXPECT_FALSE(portOpen(port)) << "Tessel still serves the port";
}
