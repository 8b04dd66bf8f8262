// The real Tessel program with the real Deltamaker plug-in on a real X server (xcb under Xvfb),
// driven through xdotool as a person drives it. ./test.sh runs these at 1366x768 and 1920x1080,
// in the sanitizer build too; elsewhere they skip. Freed memory is filled (glibc's
// MALLOC_PERTURB_, AddressSanitizer's free fill) so that Qt code touching freed memory fails
// here instead of corrupting the heap quietly. Pictures go to build/screenshots/<size>/.
#include "tests/host/host_test_util.h"
#include "tests/support/test_paths.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

#include <signal.h>

namespace {

const int kStartMs = 90000;   // the sanitizer build starts slowly

QString xdotool()
{
    return QStandardPaths::findExecutable(QStringLiteral("xdotool"));
}

// Runs xdotool; its standard output.
QString xdo(const QStringList &args, int timeoutMs = 20000)
{
    QProcess p;
    p.start(xdotool(), args);
    if (!p.waitForFinished(timeoutMs))
        p.kill();
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

QStringList visibleWindows(qint64 pid)
{
    return xdo({"search", "--onlyvisible", "--pid", QString::number(pid)})
        .split('\n', Qt::SkipEmptyParts);
}

// One Tessel process in its own working folder (a copy of the build's runtime folder) and its
// own lock folder, so that nothing else running on the machine counts as a first copy.
class RealHost
{
public:
    explicit RealHost(const QString &workDir, const QString &lockDir) : m_workDir(workDir), m_lockDir(lockDir) {}
    ~RealHost() { stop(); }

    bool start(const QStringList &args)
    {
        m_process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("XDG_RUNTIME_DIR", m_lockDir);
        env.insert("MALLOC_PERTURB_", "190");
        if (env.contains("ASAN_OPTIONS"))
            env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS")
                                           + ":max_free_fill_size=1048576:free_fill_byte=190:strict_string_checks=0");
        m_process->setProcessEnvironment(env);
        m_process->setWorkingDirectory(m_workDir);
        m_process->setProcessChannelMode(QProcess::MergedChannels);
        m_process->start(TestPaths::binDir() + "/Tessel", args);
        if (!m_process->waitForStarted(10000))
            return false;
        return waitForWindows(1);
    }

    qint64 pid() const { return m_process->processId(); }
    bool running() const { return m_process && m_process->state() == QProcess::Running; }
    QString output()
    {
        if (m_process)
            m_output += QString::fromLocal8Bit(m_process->readAll());
        return m_output;
    }

    // Waits until the process shows at least `count` windows; false if it ended first.
    bool waitForWindows(int count, int timeoutMs = kStartMs)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            if (!running())
                return false;
            const QStringList w = visibleWindows(pid());
            if (w.size() >= count) {
                if (m_main.isEmpty())
                    m_main = w.first();
                return true;
            }
            QThread::msleep(200);
        }
        return false;
    }

    QString mainWindow() const { return m_main; }
    QRect geometry() const
    {
        QRect r;
        for (const QString &line : xdo({"getwindowgeometry", "--shell", m_main}).split('\n')) {
            const QStringList kv = line.split('=');
            if (kv.size() != 2)
                continue;
            const int v = kv[1].toInt();
            if (kv[0] == "X") r.moveLeft(v);
            if (kv[0] == "Y") r.moveTop(v);
            if (kv[0] == "WIDTH") r.setWidth(v);
            if (kv[0] == "HEIGHT") r.setHeight(v);
        }
        return r;
    }

    // A click at a point of the main window.
    void click(int x, int y, int button = 1)
    {
        const QRect g = geometry();
        xdo({"mousemove", QString::number(g.x() + x), QString::number(g.y() + y), "click", QString::number(button)});
        QThread::msleep(600);
    }
    void keys(const QStringList &keys)
    {
        xdo(QStringList{"key", "--delay", "150"} + keys);
        QThread::msleep(600);
    }

    // Moves the mouse over the window and resizes it: everything is laid out and painted again.
    void makeItPaint()
    {
        const QRect g = geometry();
        for (int i = 0; i < 4; ++i) {
            xdo({"mousemove", QString::number(g.x() + 40 + 60 * i), QString::number(g.y() + 40 + 50 * i)});
            QThread::msleep(150);
        }
        xdo({"windowsize", m_main, QString::number(g.width() - 40), QString::number(g.height() - 30)});
        QThread::msleep(800);
        xdo({"windowsize", m_main, QString::number(g.width()), QString::number(g.height())});
        QThread::msleep(800);
    }

    void stop()
    {
        if (!running())
            return;
        m_process->terminate();
        if (!m_process->waitForFinished(20000))
            m_process->kill();
        m_process->waitForFinished(5000);
        output();
    }

    bool waitForEnd(int timeoutMs)
    {
        const bool ended = m_process->waitForFinished(timeoutMs);
        output();
        return ended;
    }
    int exitCode() const { return m_process->exitCode(); }

private:
    QString m_workDir;
    QString m_lockDir;
    std::unique_ptr<QProcess> m_process;
    QString m_output;
    QString m_main;
};

QString screenshotDir()
{
    const QSize s = QGuiApplication::primaryScreen()->size();
    const QString dir = TestPaths::buildDir() + QStringLiteral("/screenshots/%1x%2").arg(s.width()).arg(s.height());
    QDir().mkpath(dir);
    return dir;
}

// The whole screen, as a person sees it.
QImage screen(const QString &name)
{
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    shot.save(screenshotDir() + "/" + name + ".png");
    return shot.toImage();
}

// Distinct colours in the window's area: a painted window has many, a blank one a few.
int colours(const QImage &image, const QRect &area)
{
    QSet<QRgb> seen;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); y += 3)
        for (int x = r.left(); x <= r.right(); x += 3)
            seen.insert(image.pixel(x, y));
    return seen.size();
}

// The language button: the middle one of the three icons at the foot of the left panel.
int languageButtonX(RealHost &) { return 150; }
int languageButtonY(RealHost &host) { return host.geometry().height() - 40; }

class RealHostOnDisplay : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs a real X server (run by ./test.sh under xvfb-run)";
        if (xdotool().isEmpty())
            GTEST_SKIP() << "xdotool is not installed";
        ASSERT_TRUE(copyTreeFiles(TestPaths::runtimeDir(), work.path()));
        ASSERT_TRUE(QFileInfo::exists(work.path() + "/plugins/Deltamaker/Deltamaker.so"));
    }

    void setLanguage(const char *lang)
    {
        for (const char *context : {"Tessel", "Deltamaker"})
            ASSERT_TRUE(writeBytes(work.path() + "/lang/" + context + "/index.config", lang));
    }

    QString file(const QString &rel) const { return work.path() + "/" + rel; }

    // Right-clicks the Deltamaker row and picks the menu's last entry, the uninstall; the
    // question box comes up.
    void askToUninstall(RealHost &host)
    {
        host.click(60, 45, 3);
        host.keys({"Up", "Return"});
        ASSERT_TRUE(host.waitForWindows(2, 20000)) << host.output().toStdString();
    }

    QTemporaryDir work;
    QTemporaryDir locks;
};

TEST_F(RealHostOnDisplay, UninstallYesKeepsTheHostRunningAndPaintingInBothLanguages)
{
    for (const char *lang : {"zh", "en"}) {
        SCOPED_TRACE(lang);
        // A fresh working folder for each language.
        ASSERT_TRUE(QDir(work.path()).removeRecursively() && QDir().mkpath(work.path()));
        ASSERT_TRUE(copyTreeFiles(TestPaths::runtimeDir(), work.path()));
        setLanguage(lang);
        RealHost host(work.path(), locks.path());
        ASSERT_TRUE(host.start({"-mutex", "0", "-c", "Deltamaker"})) << host.output().toStdString();
        QThread::msleep(1500);
        askToUninstall(host);
        screen(QStringLiteral("host-uninstall-question-%1").arg(lang));
        host.keys({"Return"});   // "是" / "Yes", the default button
        host.makeItPaint();
        host.makeItPaint();
        ASSERT_TRUE(host.running()) << host.output().toStdString();
        const QImage after = screen(QStringLiteral("host-uninstall-done-%1").arg(lang));
        EXPECT_GT(colours(after, host.geometry()), 4) << "the window is not painted";
        // The library and the folders the unload emptied are gone; the plug-in's files too.
        EXPECT_FALSE(QFileInfo::exists(file("plugins/Deltamaker")));
        EXPECT_TRUE(QFileInfo::exists(file("plugins")));
        EXPECT_FALSE(QFileInfo::exists(file("lang/Deltamaker")));
        EXPECT_TRUE(visibleWindows(host.pid()).size() == 1u);
        host.stop();
        EXPECT_FALSE(host.output().contains("AddressSanitizer")) << host.output().toStdString();
        EXPECT_FALSE(host.output().contains("malloc")) << host.output().toStdString();
    }
}

TEST_F(RealHostOnDisplay, UninstallNoKeepsEverything)
{
    RealHost host(work.path(), locks.path());
    ASSERT_TRUE(host.start({"-mutex", "0", "-c", "Deltamaker"})) << host.output().toStdString();
    QThread::msleep(1500);
    askToUninstall(host);
    host.keys({"Escape"});   // "否"
    host.makeItPaint();
    ASSERT_TRUE(host.running()) << host.output().toStdString();
    EXPECT_TRUE(QFileInfo::exists(file("plugins/Deltamaker/Deltamaker.so")));
    EXPECT_TRUE(QFileInfo::exists(file("lang/Deltamaker/zh.lang")));
    // The row is still there: the menu comes up again and offers the uninstall once more.
    askToUninstall(host);
    host.keys({"Escape"});
    ASSERT_TRUE(host.running());
    host.stop();
    EXPECT_FALSE(host.output().contains("AddressSanitizer")) << host.output().toStdString();
}

TEST_F(RealHostOnDisplay, AfterALanguageSwitchAPlainSecondStartIsRefused)
{
    RealHost first(work.path(), locks.path());
    ASSERT_TRUE(first.start({"-c", "Deltamaker"})) << first.output().toStdString();
    QThread::msleep(1500);
    const qint64 firstPid = first.pid();
    first.click(languageButtonX(first), languageButtonY(first));
    ASSERT_TRUE(first.waitForWindows(2, 20000)) << first.output().toStdString();
    screen("host-language-manager-zh");
    // The manager's combo takes the focus: the language above (English, listed first), then
    // the switch button.
    const QStringList windows = visibleWindows(first.pid());
    for (const QString &w : windows)
        if (w != first.mainWindow())
            xdo({"windowfocus", "--sync", w});
    first.keys({"Up", "Tab", "space"});
    ASSERT_TRUE(first.waitForEnd(60000)) << "the old copy did not end";
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_EQ(readBytes(file("lang/Tessel/index.config")), QByteArray("en"));

    // The new copy runs (started by the old one, found by its window title).
    QString relaunched;
    QElapsedTimer t;
    t.start();
    while (relaunched.isEmpty() && t.elapsed() < kStartMs) {
        relaunched = xdo({"search", "--onlyvisible", "--name", "Tessel V1.0.21"}).section('\n', 0, 0);
        QThread::msleep(300);
    }
    ASSERT_FALSE(relaunched.isEmpty()) << "the relaunched copy shows no window";
    const qint64 newPid = xdo({"getwindowpid", relaunched}).toLongLong();
    EXPECT_NE(newPid, firstPid);
    QThread::msleep(1500);
    screen("host-after-switch-en");

    // A plain start is refused now: it shows its warning, in English, and ends once closed.
    RealHost second(work.path(), locks.path());
    ASSERT_TRUE(second.start({})) << second.output().toStdString();
    const QString box = visibleWindows(second.pid()).value(0);
    screen("host-second-start-en");
    EXPECT_EQ(xdo({"getwindowname", box}), "Notice");
    xdo({"windowactivate", "--sync", box});
    xdo({"key", "--window", box, "Return"});
    EXPECT_TRUE(second.waitForEnd(30000));
    EXPECT_EQ(second.exitCode(), 0);
    // The relaunched copy still runs; end it.
    EXPECT_EQ(::kill(pid_t(newPid), 0), 0);
    ::kill(pid_t(newPid), SIGTERM);
}

} // namespace
