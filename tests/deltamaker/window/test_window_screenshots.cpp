// Pictures of the host with the Deltamaker window shown: filled in, after a successful delta
// build and after a failed one, at the screen's own start size. scripts/screenshots.sh runs this
// on Xvfb at two screen sizes; TESSEL_SCREENSHOT_DIR names the folder (skipped when unset).
// The build's runtime folder is copied to a temporary working folder first, so the pictures
// never leave packages or logs behind in it.
#include "tests/deltamaker/window/host_session.h"
#include "widgetkit/sys_button.h"

#include <QGuiApplication>
#include <QScreen>
#include <QToolTip>

namespace {

void settle()
{
    QTest::qWait(300);
}

} // namespace

TEST(DeltamakerScreenshot, DISABLED_AfterASuccessfulAndAFailedBuild)
{
    const QString out = QString::fromLocal8Bit(qgetenv("TESSEL_SCREENSHOT_DIR"));
    if (out.isEmpty())
        GTEST_SKIP() << "TESSEL_SCREENSHOT_DIR is not set";
    ASSERT_TRUE(QDir().mkpath(out));

    WindowTest::HostSession s;
    ASSERT_TRUE(s.start());
    s.fillDeltaRows();
    settle();
    EXPECT_TRUE(s.host->grab().save(out + QStringLiteral("/deltamaker-filled.png")));

    // While it builds: controls disabled, the progress in the status bar.
    QTest::mouseClick(s.window->findChild<QPushButton *>(QStringLiteral("diffButton")), Qt::LeftButton);
    QTest::qWait(30);
    if (s.window->property("building").toBool()) {
        EXPECT_TRUE(s.host->grab().save(out + QStringLiteral("/deltamaker-building.png")));
    }
    QElapsedTimer t;
    t.start();
    while (s.window->property("building").toBool() && t.elapsed() < 600000)
        QTest::qWait(10);
    settle();
    EXPECT_TRUE(s.logTexts().last().endsWith(QString::fromUtf8("生成成功")));
    EXPECT_TRUE(QFileInfo::exists(s.wd.file("klm4410_delta.pkg")));
    EXPECT_TRUE(s.host->grab().save(out + QStringLiteral("/deltamaker-build-succeeded.png")));

    // A build the builder refuses: the in-place method without the old image's partition.
    s.setRow("partitionRow", s.wd.file("samples/zn3150/partition.bin"));
    EXPECT_FALSE(s.press("diffButton", 600000));
    settle();
    EXPECT_TRUE(s.host->grab().save(out + QStringLiteral("/deltamaker-build-failed.png")));

    // A press refused at once: the new image missing.
    s.setRow("newRow", QString());
    EXPECT_FALSE(s.press("diffButton", 600000));
    settle();
    EXPECT_TRUE(s.host->grab().save(out + QStringLiteral("/deltamaker-rows-missing.png")));
}

TEST(DeltamakerScreenshot, DISABLED_LeftPanelTooltip)
{
    const QString out = QString::fromLocal8Bit(qgetenv("TESSEL_SCREENSHOT_DIR"));
    if (out.isEmpty())
        GTEST_SKIP() << "TESSEL_SCREENSHOT_DIR is not set";
    WindowTest::HostSession s;
    ASSERT_TRUE(s.start());
    QWidget *button = s.host->installButton();
    QToolTip::showText(button->mapToGlobal(button->rect().center()), button->toolTip(), button);
    QTest::qWait(300);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_FALSE(button->toolTip().isEmpty());
    const QRect area(button->mapToGlobal(QPoint(-20, -120)), QSize(420, 200));
    EXPECT_TRUE(QGuiApplication::primaryScreen()
                    ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                    .save(out + QStringLiteral("/tessel-tooltip.png")));
}
