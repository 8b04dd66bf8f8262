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

// In both languages: a ZN3150 build the builder refuses, with its whole reason in view, and a
// ZN3150 block delta build with the boot image and both NV files, the rows it uses shown before.
TEST(DeltamakerScreenshot, DISABLED_ZN3150FailureAndBlockBuildInBothLanguages)
{
    const QString out = QString::fromLocal8Bit(qgetenv("TESSEL_SCREENSHOT_DIR"));
    if (out.isEmpty())
        GTEST_SKIP() << "TESSEL_SCREENSHOT_DIR is not set";
    ASSERT_TRUE(QDir().mkpath(out));
    for (const char *language : {"zh", "en"}) {
        SCOPED_TRACE(language);
        WindowTest::HostSession s;
        ASSERT_TRUE(s.start(language));
        const auto sample = [&s](const char *rel) { return s.wd.file(QStringLiteral("samples/") + rel); };
        const auto shot = [&](const char *name) {
            settle();
            EXPECT_TRUE(s.host->grab().save(QStringLiteral("%1/deltamaker-%2-%3.png").arg(out, QLatin1String(name),
                                                                                         QLatin1String(language))));
        };
        // An old image that is no longer there: its row is marked, the builder's reason is long.
        s.setRow("partitionRow", sample("zn3150/partition.bin"));
        s.setRow("oldRow", sample("zn3150/firmware-as-shipped-last-spring-removed-since.bin"));
        s.setRow("newRow", sample("zn3150/new.bin"));
        s.setRow("outputRow", s.wd.file("zn3150.pkg"));
        EXPECT_FALSE(s.press("diffButton", 600000));
        shot("zn3150-failed");

        // The block button with every row; pointing at it shows what it uses.
        s.setRow("bootRow", sample("zn3150/boot.bin"));
        s.setRow("oldRow", sample("zn3150/old.bin"));
        s.setRow("nv1Row", sample("zn3150/nv_usr.bin"));
        s.setRow("nv2Row", sample("zn3150/nv_amt.bin"));
        QWidget *inPlace = s.window->findChild<QPushButton *>(QStringLiteral("diffButton"));
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(inPlace, &enter);
        shot("zn3150-in-place-plan");
        QWidget *block = s.window->findChild<QPushButton *>(QStringLiteral("blockButton"));
        QApplication::sendEvent(block, &enter);
        s.host->activateWindow();
        (void)QTest::qWaitForWindowActive(s.host.get(), 2000);
        block->setFocus();
        shot("zn3150-block-plan");
        EXPECT_TRUE(s.press("blockButton", 600000)) << s.logTexts().join('\n').toStdString();
        shot("zn3150-block-built");
    }
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
