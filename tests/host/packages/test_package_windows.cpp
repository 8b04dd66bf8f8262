// The installer and generator dialogs, driven offscreen through their buttons and the dialog
// seam, with the host's English texts.
#include "host/packages/gen_pkg_window.h"
#include "host/packages/import_pkg_window.h"
#include "host/packages/package_files.h"
#include "tests/host/packages/package_test_util.h"
#include "tests/host/plugin_fixture.h"

#include "common/text_format.h"
#include "widgetkit/sys_button.h"
#include "widgetkit/sys_file_select.h"
#include "widgetkit/sys_line_edit.h"
#include "widgetkit/sys_menu.h"
#include "widgetkit/sys_table.h"
#include "widgetkit/sys_xml_document.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTest>
#include <QTimer>

namespace {

struct LogLine {
    QString level;
    QString text;
    bool operator==(const LogLine &o) const { return level == o.level && text == o.text; }
};

std::ostream &operator<<(std::ostream &os, const LogLine &l)
{
    return os << l.level.toStdString() << ' ' << l.text.toStdString();
}

class PackageWindows : public PluginFixture
{
protected:
    void SetUp() override
    {
        PluginFixture::SetUp();
        const QString lang = TestPaths::sourceDir() + QStringLiteral("/runtime/lang/Tessel/en.lang");
        ASSERT_TRUE(QFile::copy(lang, wd.file("lang/Tessel/en.lang")));
        ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/index.config"), "en"));
        main = makeWindow();
    }

    QString en(const char *key) { return main->tr_(QLatin1String(key)); }
    QString en(const char *key, const QString &arg)
    {
        return formatPattern(main->tr_(QLatin1String(key)), {arg});
    }

    static QVector<LogLine> logLines(SysTable *table)
    {
        QVector<LogLine> out;
        for (int r = 0; r < table->rowCount(); ++r) {
            QTableWidgetItem *level = table->item(r, 1);
            QTableWidgetItem *text = table->item(r, 2);
            if (level && text && !level->text().isEmpty())
                out.push_back({level->text(), text->text()});
        }
        return out;
    }

    QString writePackage(const QString &name, const QByteArray &bytes)
    {
        const QString path = outside.path() + QLatin1Char('/') + name;
        EXPECT_TRUE(writeBytes(path, bytes));
        return path;
    }

    std::unique_ptr<MainWindow> main;
    QTemporaryDir outside;
};

LogLine info(const QString &text) { return {QStringLiteral("INFO"), text}; }
LogLine error(const QString &text) { return {QStringLiteral("ERROR"), text}; }

QStringList columnTexts(SysTable *table, int column, int rows)
{
    QStringList out;
    for (int r = 0; r < rows; ++r)
        out << (table->item(r, column) ? table->item(r, column)->text() : QString());
    return out;
}

} // namespace

TEST_F(PackageWindows, InstallerLayoutAndTexts)
{
    ImportPkgWindow w(main.get());
    EXPECT_EQ(w.windowTitle(), "Install Plug-in Package");
    EXPECT_EQ(w.fileSelect()->browseButton()->text(), "Choose package");
    EXPECT_EQ(w.fileSelect()->nameFilters(), (QStringList{"Plug-in packages (*.plug)", "All files (*)"}));
    EXPECT_EQ(w.installButton()->text(), "Install");
    EXPECT_EQ(w.clearButton()->text(), "Clear log");
    SysTable *log = w.logTable();
    ASSERT_EQ(log->columnCount(), 3);
    EXPECT_EQ(log->horizontalHeaderItem(0)->text(), "Time");
    EXPECT_EQ(log->horizontalHeaderItem(2)->text(), "Message");
    EXPECT_GE(log->columnWidth(0), 180);
    EXPECT_GE(log->columnWidth(0), log->fontMetrics().horizontalAdvance("2026-12-08 11:20:00.000"));
    EXPECT_GE(log->columnWidth(1), 80);
    EXPECT_EQ(log->contextMenuPolicy(), Qt::CustomContextMenu);

    // No package chosen: nothing happens.
    QTest::mouseClick(w.installButton(), Qt::LeftButton);
    EXPECT_TRUE(logLines(log).isEmpty());
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(PackageWindows, InstallingAPackageLoadsItsNewPlugin)
{
    ImportPkgWindow w(main.get());
    const QByteArray tool = readBytes(testPlugin("a/Tool.so"));
    ASSERT_FALSE(tool.isEmpty());
    const QString pkg = writePackage("tool.plug", PackageTest::package({
        {"plugins/Tool/Tool.so", tool}, {"config/Tool/index.config", ""}}));
    testPresenter().fileAnswers << pkg;
    QTest::mouseClick(w.fileSelect()->browseButton(), Qt::LeftButton);
    EXPECT_EQ(w.fileSelect()->path(), pkg);
    QTest::mouseClick(w.installButton(), Qt::LeftButton);

    const QVector<LogLine> expected = {
        info(en("importPkg/plugin/startInstallFmt", pkg)),
        info(en("importPkg/findFileFmt", "plugins/Tool/Tool.so")),
        info(en("importPkg/releaseFileSuccessFmt", wd.file("plugins/Tool/Tool.so"))),
        info(en("importPkg/findFileFmt", "config/Tool/index.config")),
        info(en("importPkg/releaseFileSuccessFmt", wd.file("config/Tool/index.config"))),
        info(en("importPkg/plugin/install/success")),
    };
    EXPECT_EQ(logLines(w.logTable()), expected);
    EXPECT_EQ(w.logTable()->nextLogRow(), expected.size());
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Information);
    EXPECT_EQ(messages()[0].title, "Install");
    EXPECT_EQ(messages()[0].text, en("importPkg/plugin/install/success"));
    EXPECT_EQ(rows(*main), QStringList{"Tool"});
    EXPECT_EQ(readBytes(wd.file("plugins/Tool/Tool.so")), tool);

    // The clear button empties the cells; the next line goes below them.
    QTest::mouseClick(w.clearButton(), Qt::LeftButton);
    EXPECT_TRUE(logLines(w.logTable()).isEmpty());
    EXPECT_EQ(w.logTable()->nextLogRow(), expected.size());
}

TEST_F(PackageWindows, EmptyOrEscapingPackageFailsWithTheErrorBox)
{
    ImportPkgWindow w(main.get());
    const auto before = PackageTest::snapshot(wd.path());
    w.fileSelect()->setPath(writePackage("empty.plug", QByteArray()));
    w.startInstall();
    w.fileSelect()->setPath(writePackage("escape.plug", PackageTest::package({{"a.txt", "a"}})
                                                            + PackageTest::rawEntry("../b.txt", "b")));
    w.startInstall();
    const QVector<LogLine> lines = logLines(w.logTable());
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[1], error(en("importPkg/readFileHeaderFailed")));
    EXPECT_EQ(lines[2], error(en("importPkg/plugin/install/failed")));
    EXPECT_EQ(lines[4], error(en("importPkg/unsafePathFmt", "../b.txt")));
    EXPECT_EQ(lines[5], error(en("importPkg/plugin/install/failed")));
    ASSERT_EQ(messages().size(), 2);
    EXPECT_EQ(messages()[1].kind, IDialogPresenter::Kind::Critical);
    EXPECT_EQ(messages()[1].title, "Install");
    EXPECT_EQ(messages()[1].text, en("importPkg/plugin/install/failed"));
    EXPECT_EQ(PackageTest::snapshot(wd.path()), before);
    // Error rows are marked.
    EXPECT_EQ(w.logTable()->item(1, 0)->background().color(), QColor("#fde2e2"));
    EXPECT_EQ(w.logTable()->item(0, 0)->background().style(), Qt::NoBrush);
}

TEST_F(PackageWindows, GeneratorLayoutAndFileList)
{
    GenPkgWindow w(main.get());
    EXPECT_EQ(w.windowTitle(), "Plug-in Package Generator");
    EXPECT_EQ(w.templateSelect()->nameFilters(), (QStringList{"Templates (*.tpl)", "All files (*)"}));
    EXPECT_EQ(w.fileTable()->columnWidth(0), 400);
    EXPECT_EQ(w.fileTable()->horizontalHeaderItem(1)->text(), "Relative path");

    ASSERT_TRUE(writeBytes(wd.file("top.txt"), "t"));
    ASSERT_TRUE(writeBytes(wd.file("plugins/Tool/Tool.so"), "lib"));
    QTemporaryDir elsewhere;
    testPresenter().fileListAnswers
        << QStringList{wd.file("top.txt"), wd.file("plugins/Tool/Tool.so"), wd.file("top.txt"),
                       elsewhere.path() + "/x.so", wd.file("after.txt")};
    QTest::mouseClick(w.addButton(), Qt::LeftButton);
    EXPECT_EQ(testPresenter().dialogCaptions, QStringList{"Add files"});
    EXPECT_EQ(w.packList(), (QStringList{wd.file("top.txt"), wd.file("plugins/Tool/Tool.so")}));
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Critical);
    EXPECT_EQ(messages()[0].title, w.windowTitle());
    EXPECT_EQ(messages()[0].text, en("genPkg/fileIsNotUnderWorkDirFmt", elsewhere.path() + "/x.so"));

    EXPECT_TRUE(w.addFile(wd.file("missing.bin")));
    EXPECT_EQ(columnTexts(w.fileTable(), 0, 3),
              (QStringList{"top.txt", "Tool.so", "missing.bin" + en("genPkg/notExist")}));
    EXPECT_EQ(columnTexts(w.fileTable(), 1, 3), (QStringList{"/", "/plugins/Tool", "/"}));
    EXPECT_EQ(w.fileTable()->item(1, 0)->data(256).toString(), wd.file("plugins/Tool/Tool.so"));

    // The row menu removes its row; rows without a file have no menu.
    EXPECT_EQ(w.buildRowMenu(3), nullptr);
    SysMenu *menu = w.buildRowMenu(0);
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), "Remove file");
    menu->actions()[0]->trigger();
    delete menu;
    EXPECT_EQ(w.packList(), (QStringList{wd.file("plugins/Tool/Tool.so"), wd.file("missing.bin")}));
    EXPECT_EQ(columnTexts(w.fileTable(), 0, 1), QStringList{"Tool.so"});

    // Clear keeps the rows, empties them and the list; additions start at the top again.
    const int rowsBefore = w.fileTable()->rowCount();
    QTest::mouseClick(w.clearButton(), Qt::LeftButton);
    EXPECT_TRUE(w.packList().isEmpty());
    EXPECT_EQ(w.fileTable()->rowCount(), rowsBefore);
    EXPECT_TRUE(w.addFile(wd.file("top.txt")));
    EXPECT_EQ(columnTexts(w.fileTable(), 0, 2), (QStringList{"top.txt", ""}));
}

TEST_F(PackageWindows, GeneratorSavesOpensAndPacks)
{
    GenPkgWindow w(main.get());
    // Nothing listed: both buttons refuse.
    QTest::mouseClick(w.saveTemplateButton(), Qt::LeftButton);
    QTest::mouseClick(w.packButton(), Qt::LeftButton);
    ASSERT_EQ(messages().size(), 2);
    EXPECT_EQ(messages()[1].text, en("genPkg/packListIsEmpty"));
    EXPECT_TRUE(testPresenter().dialogCaptions.isEmpty());
    messages().clear();

    ASSERT_TRUE(writeBytes(wd.file("plugins/Tool/Tool.so"), "library"));
    ASSERT_TRUE(writeBytes(wd.file(QStringLiteral("docs/工具.doc")), "manual"));
    const QStringList files = {wd.file(QStringLiteral("docs/工具.doc")), wd.file("plugins/Tool/Tool.so")};
    w.addFiles(files);

    // Save the template, then read it back into an emptied list through the selector.
    testPresenter().fileAnswers << wd.file("tool.tpl");
    QTest::mouseClick(w.saveTemplateButton(), Qt::LeftButton);
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Information);
    EXPECT_EQ(messages()[0].title, "Save template");
    EXPECT_EQ(w.templateSelect()->path(), wd.file("tool.tpl"));
    w.clearList();
    testPresenter().fileAnswers << wd.file("tool.tpl");
    QTest::mouseClick(w.templateSelect()->browseButton(), Qt::LeftButton);
    EXPECT_EQ(w.packList(), files);

    // Pack: the package proposed after the template, read back entry by entry.
    testPresenter().fileAnswers << wd.file("tool.plug");
    QTest::mouseClick(w.packButton(), Qt::LeftButton);
    ASSERT_EQ(messages().size(), 2);
    EXPECT_EQ(messages()[1].text, en("genPkg/tempMgr/packSuccess"));
    EXPECT_EQ(messages()[1].title, "Build package");
    QVector<Packages::PackageEntry> entries;
    Packages::PackageMessage err;
    const QByteArray package = readBytes(wd.file("tool.plug"));
    ASSERT_TRUE(Packages::parsePackage(package, entries, err));
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0].path, QStringLiteral("docs/工具.doc"));
    EXPECT_EQ(entries[1].path, "plugins/Tool/Tool.so");

    // A source that vanished: the pack fails, naming it, and leaves no package.
    ASSERT_TRUE(QFile::remove(wd.file("plugins/Tool/Tool.so")));
    testPresenter().fileAnswers << wd.file("again.plug");
    QTest::mouseClick(w.packButton(), Qt::LeftButton);
    ASSERT_EQ(messages().size(), 3);
    EXPECT_EQ(messages()[2].kind, IDialogPresenter::Kind::Critical);
    EXPECT_EQ(messages()[2].text, en("genPkg/tempMgr/packFailed") + "\n"
                                      + en("genPkg/cannotReadFmt", wd.file("plugins/Tool/Tool.so")));
    EXPECT_FALSE(QFileInfo::exists(wd.file("again.plug")));

    // A template with a comment is refused as a whole; the list stays.
    ASSERT_TRUE(writeGbkXml(wd.file("bad.tpl"), "<ROOT><!-- note --><FILE VALUE=\"x\"/></ROOT>"));
    EXPECT_FALSE(w.openTemplate(wd.file("bad.tpl")));
    ASSERT_EQ(messages().size(), 4);
    EXPECT_EQ(messages()[3].title, "Template");
    EXPECT_EQ(messages()[3].text, en("genPkg/tempMgr/tempLoadFailed") + "\n" + wd.file("bad.tpl")
                                      + ": ROOT holds something other than FILE elements (line 2)");
    EXPECT_EQ(w.packList(), files);
}

// Template and package dialogs offer their kind and all files, give a name without an
// extension the chosen filter's, and each starts in the folder the last dialog of its kind used,
// also when the dialog is opened again, and in the installer for a package just built.
TEST_F(PackageWindows, FileDialogsOfferTheirKindAndStartWhereTheLastOneEnded)
{
    RecordingPresenter &dialogs = testPresenter();
    const QString templates = QStringLiteral("Templates (*.tpl);;All files (*)");
    const QString packages = QStringLiteral("Plug-in packages (*.plug);;All files (*)");
    ASSERT_TRUE(writeBytes(wd.file("plugins/Tool/Tool.so"), "library"));
    ASSERT_TRUE(QDir().mkpath(wd.file("templates")));
    const QString kept = outside.path() + "/kept";
    ASSERT_TRUE(QDir().mkpath(kept));
    {
        GenPkgWindow w(main.get());
        EXPECT_EQ(w.templateSelect()->startDirectory(), wd.path());
        dialogs.fileListAnswers << QStringList{wd.file("plugins/Tool/Tool.so")};
        QTest::mouseClick(w.addButton(), Qt::LeftButton);
        EXPECT_EQ(dialogs.dialogDirs.last(), wd.path());
        EXPECT_EQ(dialogs.dialogFilters.last(), QString());

        // Saved without an extension: the template filter's is added.
        dialogs.fileAnswers << wd.file("templates/tool");
        QTest::mouseClick(w.saveTemplateButton(), Qt::LeftButton);
        EXPECT_EQ(dialogs.dialogFilters.last(), templates);
        EXPECT_EQ(dialogs.dialogDirs.last(), wd.path());
        EXPECT_TRUE(QFileInfo::exists(wd.file("templates/tool.tpl")));
        EXPECT_EQ(w.templateSelect()->path(), wd.file("templates/tool.tpl"));

        // Packed without an extension: ".plug", named after the template in the working folder.
        dialogs.fileAnswers << kept + "/tool";
        QTest::mouseClick(w.packButton(), Qt::LeftButton);
        EXPECT_EQ(dialogs.dialogFilters.last(), packages);
        EXPECT_EQ(dialogs.dialogDirs.last(), wd.file("tool.plug"));
        EXPECT_TRUE(QFileInfo::exists(kept + "/tool.plug"));
        // With "all files" chosen the name stays as given; the next proposal is in that folder.
        dialogs.selectedFilter = QStringLiteral("All files (*)");
        dialogs.fileAnswers << kept + "/raw";
        QTest::mouseClick(w.packButton(), Qt::LeftButton);
        EXPECT_EQ(dialogs.dialogDirs.last(), kept + "/tool.plug");
        EXPECT_TRUE(QFileInfo::exists(kept + "/raw"));
        EXPECT_FALSE(QFileInfo::exists(kept + "/raw.plug"));
        dialogs.selectedFilter.clear();
        ASSERT_EQ(messages().size(), 3);
    }
    {
        // Opened again: each dialog starts where its kind was last used.
        GenPkgWindow w(main.get());
        EXPECT_EQ(w.templateSelect()->startDirectory(), wd.file("templates"));
        dialogs.fileAnswers << wd.file("templates/tool.tpl");
        QTest::mouseClick(w.templateSelect()->browseButton(), Qt::LeftButton);
        EXPECT_EQ(dialogs.dialogDirs.last(), wd.file("templates"));
        EXPECT_EQ(dialogs.dialogFilters.last(), templates);
        EXPECT_EQ(w.packList(), QStringList{wd.file("plugins/Tool/Tool.so")});
        QTest::mouseClick(w.addButton(), Qt::LeftButton);
        EXPECT_EQ(dialogs.dialogDirs.last(), wd.file("plugins/Tool"));
        // Saving starts at the template in the selector, packing in the last package folder.
        dialogs.fileAnswers << QString();
        QTest::mouseClick(w.saveTemplateButton(), Qt::LeftButton);
        EXPECT_EQ(dialogs.dialogDirs.last(), wd.file("templates/tool.tpl"));
        dialogs.fileAnswers << QString();
        QTest::mouseClick(w.packButton(), Qt::LeftButton);
        EXPECT_EQ(dialogs.dialogDirs.last(), kept + "/tool.plug");
    }
    {
        // The installer looks for packages where the last one was built.
        ImportPkgWindow w(main.get());
        EXPECT_EQ(w.fileSelect()->startDirectory(), kept);
        dialogs.fileAnswers << kept + "/tool.plug";
        QTest::mouseClick(w.fileSelect()->browseButton(), Qt::LeftButton);
        EXPECT_EQ(dialogs.dialogDirs.last(), kept);
        EXPECT_EQ(dialogs.dialogFilters.last(), packages);
        EXPECT_EQ(w.fileSelect()->path(), kept + "/tool.plug");
    }
    const QString other = outside.path() + "/other";
    ASSERT_TRUE(QDir().mkpath(other));
    ASSERT_TRUE(QFile::copy(kept + "/tool.plug", other + "/again.plug"));
    {
        ImportPkgWindow w(main.get());
        dialogs.fileAnswers << other + "/again.plug";
        QTest::mouseClick(w.fileSelect()->browseButton(), Qt::LeftButton);
    }
    ImportPkgWindow again(main.get());
    EXPECT_EQ(again.fileSelect()->startDirectory(), other);
    // Nothing is remembered past the main window: a new one starts afresh.
    auto fresh = makeWindow();
    GenPkgWindow w(fresh.get());
    EXPECT_EQ(w.templateSelect()->startDirectory(), wd.path());
    ImportPkgWindow installer(fresh.get());
    EXPECT_TRUE(installer.fileSelect()->startDirectory().isEmpty());
}

// The filters' texts come from the current language; a text without its pattern gets it, and
// a language with no filter texts at all falls back to English, then the built-in Chinese.
TEST_F(PackageWindows, FileDialogFiltersFollowTheLanguage)
{
    ASSERT_TRUE(QFile::copy(TestPaths::sourceDir() + "/runtime/lang/Tessel/zh.lang", wd.file("lang/Tessel/zh.lang")));
    ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/index.config"), "zh"));
    auto zh = makeWindow();
    EXPECT_EQ(GenPkgWindow(zh.get()).templateSelect()->nameFilters(),
              (QStringList{QString::fromUtf8("模板 (*.tpl)"), QString::fromUtf8("所有文件 (*)")}));
    EXPECT_EQ(ImportPkgWindow(zh.get()).fileSelect()->nameFilters(),
              (QStringList{QString::fromUtf8("插件包 (*.plug)"), QString::fromUtf8("所有文件 (*)")}));

    ASSERT_TRUE(writeGbkXml(wd.file("lang/Tessel/fr.lang"),
                            QString::fromUtf8("<lang name=\"Français\"><filter><template name=\"Modèles\"/>"
                                              "<all name=\"Tous les fichiers (*)\"/></filter></lang>")));
    ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/index.config"), "fr"));
    auto fr = makeWindow();
    EXPECT_EQ(GenPkgWindow(fr.get()).templateSelect()->nameFilters(),
              (QStringList{QString::fromUtf8("Modèles (*.tpl)"), "Tous les fichiers (*)"}));
    EXPECT_EQ(ImportPkgWindow(fr.get()).fileSelect()->nameFilters(),
              (QStringList{"Plug-in packages (*.plug)", "Tous les fichiers (*)"}));

    for (const char *name : {"fr", "en", "zh"})
        ASSERT_TRUE(QFile::remove(wd.file(QStringLiteral("lang/Tessel/%1.lang").arg(name))));
    ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/index.config"), "test"));
    auto none = makeWindow();
    EXPECT_EQ(ImportPkgWindow(none.get()).fileSelect()->nameFilters(),
              (QStringList{QString::fromUtf8("插件包 (*.plug)"), QString::fromUtf8("所有文件 (*)")}));
}

TEST_F(PackageWindows, MainWindowButtonsOpenTheDialogs)
{
    for (SysButton *button : {main->installButton(), main->generatorButton()}) {
        QString opened;
        QTimer::singleShot(0, [&opened] {
            QWidget *dialog = QApplication::activeModalWidget();
            if (dialog) {
                opened = QString::fromLatin1(dialog->metaObject()->className());
                dialog->close();
            }
        });
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(opened, button == main->installButton() ? "ImportPkgWindow" : "GenPkgWindow");
    }
}

// The real Deltamaker plug-in is replaced while it is loaded.
class DeltamakerInstall : public PackageWindows
{
protected:
    void SetUp() override
    {
        const QString runtime = TestPaths::runtimeDir();
        library = readBytes(runtime + QStringLiteral("/plugins/Deltamaker/Deltamaker.so"));
        ASSERT_FALSE(library.isEmpty());
        ASSERT_TRUE(writeBytes(wd.file("plugins/Deltamaker/Deltamaker.so"), library));
        const QString sources = TestPaths::sourceDir() + QStringLiteral("/runtime/");
        for (const char *rel : {"lang/Deltamaker/zh.lang", "lang/Deltamaker/index.config"}) {
            const QByteArray bytes = readBytes(sources + QLatin1String(rel));
            ASSERT_FALSE(bytes.isEmpty()) << rel;
            ASSERT_TRUE(writeBytes(wd.file(rel), bytes));
        }
        PackageWindows::SetUp();
        ASSERT_EQ(rows(*main), QStringList{"Deltamaker"});
        name = main->plugin("Deltamaker")->pluginName();
        main->showPluginByName("Deltamaker");
    }

    QString libraryPath() const { return wd.file("plugins/Deltamaker/Deltamaker.so"); }

    QByteArray library;
    QString name;
};

TEST_F(DeltamakerInstall, UnloadedWrittenAndLoadedAgain)
{
    ImportPkgWindow w(main.get());
    w.fileSelect()->setPath(writePackage("dm.plug", PackageTest::package({
        {"plugins/Deltamaker/Deltamaker.so", library}, {"docs/Deltamaker.doc", "manual"}})));
    w.startInstall();
    const QVector<LogLine> lines = logLines(w.logTable());
    ASSERT_EQ(lines.size(), 7);
    EXPECT_EQ(lines[1], info(en("importPkg/findFileFmt", "plugins/Deltamaker/Deltamaker.so")));
    EXPECT_EQ(lines[2], info(en("importPkg/plugin/uninstall/successFmt", name)));
    EXPECT_EQ(lines[3], info(en("importPkg/releaseFileSuccessFmt", libraryPath())));
    EXPECT_EQ(lines[6], info(en("importPkg/plugin/install/success")));
    EXPECT_EQ(rows(*main), QStringList{"Deltamaker"});
    ASSERT_NE(main->plugin("Deltamaker"), nullptr);
    EXPECT_EQ(main->plugin("Deltamaker")->pluginName(), name);
    EXPECT_TRUE(isMapped(libraryPath()));
    EXPECT_EQ(readBytes(libraryPath()), library);
    EXPECT_EQ(QDir(wd.file("plugins/Deltamaker")).entryList(QDir::Files | QDir::Hidden),
              QStringList{"Deltamaker.so"});
    EXPECT_EQ(messages().last().kind, IDialogPresenter::Kind::Information);
}

TEST_F(DeltamakerInstall, FailedInstallPutsTheOldLibraryBackAndLoadsIt)
{
    ImportPkgWindow w(main.get());
    ASSERT_TRUE(QDir().mkpath(wd.file("blocked")));
    const auto before = PackageTest::snapshot(wd.path());
    w.fileSelect()->setPath(writePackage("dm.plug", PackageTest::package({
        {"plugins/Deltamaker/Deltamaker.so", "not a library"}, {"blocked", "x"}})));
    w.startInstall();
    const QVector<LogLine> lines = logLines(w.logTable());
    ASSERT_EQ(lines.size(), 9);
    EXPECT_EQ(lines[2], info(en("importPkg/plugin/uninstall/successFmt", name)));
    EXPECT_EQ(lines[5], error(en("importPkg/createFileFailFmt", wd.file("blocked"))));
    EXPECT_EQ(lines[6], info(en("importPkg/restoreFileFmt", libraryPath())));
    EXPECT_EQ(lines[7], info(en("importPkg/plugin/reloadFmt", name)));
    EXPECT_EQ(lines[8], error(en("importPkg/plugin/install/failed")));
    EXPECT_EQ(PackageTest::snapshot(wd.path()), before);
    EXPECT_EQ(rows(*main), QStringList{"Deltamaker"});
    ASSERT_NE(main->plugin("Deltamaker"), nullptr);
    EXPECT_TRUE(isMapped(libraryPath()));
}

TEST_F(PackageWindows, GeneratorOpensATemplateAtTheLimitQuickly)
{
    // As many files as a template may name: once a minute of comparing each with every other.
    QByteArray body = "<ROOT>\n";
    const int count = SysXmlDocument::kMaxNodes - 3;
    for (int i = 0; i < count; ++i)
        body += " <FILE VALUE=\"plugins/Tool/f" + QByteArray::number(i) + "\"/>\n";
    ASSERT_TRUE(writeGbkXml(wd.file("big.tpl"), QString::fromLatin1(body + "</ROOT>\n")));
    GenPkgWindow w(main.get());
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(w.openTemplate(wd.file("big.tpl")));
    EXPECT_EQ(w.packList().size(), count);
    EXPECT_LT(timer.elapsed(), qEnvironmentVariableIsSet("TESSEL_SANITIZE") ? 30000 : 5000);
}
