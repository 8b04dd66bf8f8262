// The picture of the package just built, opened from the process log's menu: offscreen and on a
// real X server (./test.sh runs DeltamakerOnScreen.* on Xvfb at both screen sizes), and as
// screenshots in Chinese and English (scripts/screenshots.sh).
#include "tests/deltamaker/window/host_session.h"

#include <QDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QTextBrowser>

namespace {

using WindowTest::HostSession;

// The log menu's "View package" entry, or null; the menu is closed again.
QAction *viewEntry(HostSession &s, bool trigger)
{
    emit s.log()->customContextMenuRequested(QPoint(1, 1));
    QMenu *menu = nullptr;
    for (QWidget *top : QApplication::topLevelWidgets())
        if (auto *m = qobject_cast<QMenu *>(top); m && m->isVisible())
            menu = m;
    if (!menu)
        return nullptr;
    QAction *view = menu->findChild<QAction *>(QStringLiteral("viewPackageAction"));
    const bool enabled = view && view->isEnabled();
    if (trigger && enabled)
        view->trigger();
    menu->close();
    return enabled ? view : nullptr;
}

QDialog *openView(HostSession &s)
{
    s.fillDeltaRows();
    if (viewEntry(s, false))
        return nullptr; // nothing built yet: the entry must wait
    // Pressed and awaited in any language: the window says when its build has ended.
    QTest::mouseClick(s.window->findChild<QPushButton *>(QStringLiteral("diffButton")),
                      Qt::LeftButton);
    QElapsedTimer t;
    t.start();
    while ((s.window->property("building").toBool() || s.logTexts().size() < 2) &&
           t.elapsed() < 120000)
        QTest::qWait(20);
    const QString last = s.logTexts().value(s.logTexts().size() - 1);
    if (!last.endsWith(QString::fromUtf8("生成成功")) && !last.endsWith(QLatin1String(" built"))) {
        ADD_FAILURE() << "the build did not succeed: "
                      << s.logTexts().join(QLatin1Char('\n')).toStdString();
        return nullptr;
    }
    if (!viewEntry(s, true))
        return nullptr;
    auto *dialog = s.window->findChild<QDialog *>(QStringLiteral("packageViewDialog"));
    return dialog && QTest::qWaitForWindowExposed(dialog, 10000) ? dialog : nullptr;
}

int pixelsOf(const QImage &image, QRgb colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    return n;
}

} // namespace

TEST(DeltamakerOnScreen, PackageViewAfterADeltaBuild)
{
    HostSession s;
    ASSERT_TRUE(s.start());
    QDialog *dialog = openView(s);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("查看升级包"));
    auto *facts = dialog->findChild<QTextBrowser *>(QStringLiteral("packageFacts"));
    ASSERT_TRUE(facts);
    const QString text = facts->toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("K-inplace"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("matches the new images"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("steps unsafe"))) << text.toStdString();
    QWidget *picture = dialog->findChild<QWidget *>(QStringLiteral("packagePicture"));
    ASSERT_TRUE(picture);
    EXPECT_GE(picture->width(), 900);
    // Drawn: the boot image stored alone (green), the default windows unsafe (red).
    const QImage image = picture->grab().toImage();
    EXPECT_GT(pixelsOf(image, qRgb(0x67, 0xc2, 0x3a)), 1000);
    EXPECT_GT(pixelsOf(image, qRgb(0xf5, 0x6c, 0x6c)), 1000);
    // Fits the screen it is on.
    const QRect screen = dialog->screen()->availableGeometry();
    EXPECT_LE(dialog->frameGeometry().width(), screen.width());
    EXPECT_LE(dialog->frameGeometry().height(), screen.height());
    dialog->findChild<QPushButton *>(QStringLiteral("closeButton"))->click();
    QTest::qWait(50);
    EXPECT_FALSE(s.window->findChild<QDialog *>(QStringLiteral("packageViewDialog")));
    // A failed build takes the entry away again: the builder refuses another board's table.
    s.setRow("partitionRow", s.wd.file("samples/zn3150/partition.bin"));
    EXPECT_FALSE(s.press("diffButton", 600000));
    EXPECT_FALSE(viewEntry(s, false));
}

TEST(DeltamakerScreenshot, DISABLED_PackageView)
{
    const QString out = QString::fromLocal8Bit(qgetenv("TESSEL_SCREENSHOT_DIR"));
    if (out.isEmpty())
        GTEST_SKIP() << "TESSEL_SCREENSHOT_DIR is not set";
    for (const char *language : {"zh", "en"}) {
        HostSession s;
        ASSERT_TRUE(s.start(language));
        QDialog *dialog = openView(s);
        ASSERT_TRUE(dialog) << language;
        QTest::qWait(300);
        // The whole screen: the dialog over the host, as a person sees it.
        EXPECT_TRUE(QGuiApplication::primaryScreen()->grabWindow(0).save(
            out + QStringLiteral("/deltamaker-package-view-%1.png").arg(QLatin1String(language))));
        dialog->close();
        QTest::qWait(50);
    }
}
