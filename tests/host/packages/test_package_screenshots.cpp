// Pictures of the package installer after installing a sample package and of the generator
// with a few files listed, for a look by eye (scripts/screenshots.sh runs every *Screenshot*
// case with TESSEL_SCREENSHOT_DIR set; without it the case is skipped). The host's shipped
// texts and the built Deltamaker plug-in are copied into a temporary working folder.
#include "host/packages/gen_pkg_window.h"
#include "host/packages/import_pkg_window.h"
#include "host/packages/package_files.h"
#include "tests/host/plugin_fixture.h"

#include "widgetkit/sys_button.h"
#include "widgetkit/sys_file_select.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFileDialog>
#include <QScreen>
#include <QTest>


TEST(PackageScreenshot, DISABLED_InstallerAndGenerator)
{
    const QString out = QString::fromLocal8Bit(qgetenv("TESSEL_SCREENSHOT_DIR"));
    if (out.isEmpty())
        GTEST_SKIP() << "TESSEL_SCREENSHOT_DIR is not set";
    ASSERT_TRUE(QDir().mkpath(out));
    testPresenter().clear();

    ScopedWorkDir wd;
    const QString sources = TestPaths::sourceDir() + QStringLiteral("/runtime");
    for (const char *folder : {"/lang", "/config", "/images"})
        ASSERT_TRUE(copyTreeFiles(sources + QLatin1String(folder), wd.path() + QLatin1String(folder)));
    ASSERT_TRUE(copyTreeFiles(TestPaths::runtimeDir() + QStringLiteral("/plugins"), wd.file("plugins")));
    ASSERT_TRUE(writeBytes(wd.file("docs/Deltamaker.doc"), "manual"));

    MainWindow host;
    host.setRelaunch([](const std::string &) { return false; });
    host.init(AppArgs());
    host.show();
    settleWindows();

    const QStringList files = {wd.file("plugins/Deltamaker/Deltamaker.so"),
                               wd.file("lang/Deltamaker/zh.lang"), wd.file("lang/Deltamaker/en.lang"),
                               wd.file("config/Deltamaker/index.config"), wd.file("docs/Deltamaker.doc")};
    ASSERT_TRUE(Packages::writePackage(files, wd.file("Deltamaker.plug")));

    {
        ImportPkgWindow installer(&host);
        installer.fileSelect()->setPath(wd.file("Deltamaker.plug"));
        installer.show();
        settleWindows();
        installer.startInstall();
        settleWindows();
        EXPECT_TRUE(installer.grab().save(out + QStringLiteral("/package-installer.png")));
    }
    {
        GenPkgWindow generator(&host);
        generator.templateSelect()->setPath(wd.file("Deltamaker.tpl"));
        generator.addFiles(files);
        generator.show();
        settleWindows();
        EXPECT_TRUE(generator.grab().save(out + QStringLiteral("/package-generator.png")));
    }
    testPresenter().clear();
}

// The real file dialogs of the generator's pack button and the installer's package selector, in
// Chinese and English, with the filter list open: the kind's entry, then all files.
TEST(PackageScreenshot, DISABLED_FileDialogs)
{
    const QString out = QString::fromLocal8Bit(qgetenv("TESSEL_SCREENSHOT_DIR"));
    if (out.isEmpty())
        GTEST_SKIP() << "TESSEL_SCREENSHOT_DIR is not set";
    ASSERT_TRUE(QDir().mkpath(out));
    ScopedPresenter qtDialogs(nullptr);

    ScopedWorkDir wd;
    const QString sources = TestPaths::sourceDir() + QStringLiteral("/runtime");
    for (const char *folder : {"/lang", "/images"})
        ASSERT_TRUE(copyTreeFiles(sources + QLatin1String(folder), wd.path() + QLatin1String(folder)));
    ASSERT_TRUE(writeBytes(wd.file("plugins/Tool/Tool.so"), "library"));
    ASSERT_TRUE(writeBytes(wd.file("packages/old.plug"), "x"));
    ASSERT_TRUE(writeBytes(wd.file("packages/notes.txt"), "x"));

    // Saves the dialog, then the dialog with its filter list open, as NAME.png and NAME-filters.png.
    const auto picture = [&out](const QString &name) {
        onNextModal([&out, name](QDialog *dialog) {
            settleWindows();
            EXPECT_TRUE(dialog->grab().save(out + "/" + name + ".png"));
            auto *filters = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
            ASSERT_TRUE(filters);
            filters->showPopup();
            settleWindows();
            QWidget *list = filters->view()->window();
            const QRect area = dialog->frameGeometry().united(list->frameGeometry());
            EXPECT_TRUE(dialog->screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                            .save(out + "/" + name + "-filters.png"));
            filters->hidePopup();
        });
    };
    for (const char *lang : {"zh", "en"}) {
        ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/index.config"), lang));
        MainWindow host;
        host.setRelaunch([](const std::string &) { return false; });
        host.init(AppArgs());
        {
            GenPkgWindow generator(&host);
            generator.templateSelect()->setPath(wd.file("Tool.tpl"));
            generator.addFiles({wd.file("plugins/Tool/Tool.so")});
            generator.show();
            settleWindows();
            picture(QStringLiteral("package-generator-pack-dialog-%1").arg(lang));
            QTest::mouseClick(generator.packButton(), Qt::LeftButton);
        }
        {
            ImportPkgWindow installer(&host);
            installer.fileSelect()->setStartDirectory(wd.file("packages"));
            installer.show();
            settleWindows();
            picture(QStringLiteral("package-installer-open-dialog-%1").arg(lang));
            QTest::mouseClick(installer.fileSelect()->browseButton(), Qt::LeftButton);
        }
    }
}
