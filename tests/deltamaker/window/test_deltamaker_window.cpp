// The real Deltamaker.so, loaded by the host's own loader in a temporary working folder with the
// shipped language and setting files, driven through its widgets as a user would.
#include "deltamaker/samples/board_samples.h"
#include "deltamaker/verify/package_verify.h"
#include "host/contract/i_config_file.h"
#include "host/settings/setting_config_tree.h"
#include "host/settings/setting_window.h"
#include "host/settings/test_node_attr_list.h"
#include "tests/host/plugin_fixture.h"
#include "widgetkit/sys_button.h"
#include "widgetkit/sys_line_edit.h"
#include "widgetkit/sys_menu.h"

#include <QApplication>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QTextCodec>
#include <QTimer>

#include <algorithm>

namespace {

struct LogRow {
    QString level;
    QString text;
    bool operator==(const LogRow &o) const { return level == o.level && text == o.text; }
};

std::ostream &operator<<(std::ostream &os, const LogRow &r)
{
    return os << '[' << r.level.toStdString() << "] " << r.text.toStdString();
}

const QString kBase = QStringLiteral("Deltamaker");

class DeltamakerWindow : public PluginFixture
{
protected:
    void SetUp() override
    {
        PluginFixture::SetUp();
        const QString runtime = TestPaths::sourceDir() + QStringLiteral("/runtime");
        for (const char *rel : {"lang/Deltamaker/zh.lang", "lang/Deltamaker/en.lang",
                                "lang/Deltamaker/index.config", "config/Deltamaker/index.config"}) {
            ASSERT_TRUE(QDir().mkpath(QFileInfo(wd.file(rel)).absolutePath()));
            ASSERT_TRUE(QFile::copy(runtime + QLatin1Char('/') + rel, wd.file(rel))) << rel;
        }
        install();
        std::vector<Samples::WrittenSample> written;
        std::string error;
        ASSERT_TRUE(Samples::writeBoardSamples(wd.file("samples").toStdString(), written, error)) << error;
    }

    // Unloading deletes the library file, as the host's unload does; this puts it back.
    void install()
    {
        ASSERT_TRUE(QDir().mkpath(wd.file("plugins/Deltamaker")));
        ASSERT_TRUE(QFile::copy(pluginFile(), wd.file("plugins/Deltamaker/Deltamaker.so")));
    }

    static QString pluginFile()
    {
        return TestPaths::runtimeDir() + QStringLiteral("/plugins/Deltamaker/Deltamaker.so");
    }

    // Loads the plug-in through a new host window and shows it.
    PluginUIBase *open()
    {
        host.reset();
        host = makeWindow();
        host->showPluginByName(kBase);
        PluginInfo *info = host->plugin(kBase);
        return info ? info->window() : nullptr;
    }

    // The plug-in is built against its own copy of the kit, so its widgets are found by name
    // and used through their Qt base classes.
    template <typename T = QWidget> T *child(PluginUIBase *w, const char *name)
    {
        T *found = w->findChild<T *>(QLatin1String(name));
        EXPECT_TRUE(found) << name;
        return found;
    }

    void setRow(PluginUIBase *w, const char *row, const QString &path)
    {
        child(w, row)->findChild<QLineEdit *>()->setText(path);
    }

    // Presses a build button and waits until the build it started has ended.
    void press(PluginUIBase *w, const char *button)
    {
        QTest::mouseClick(child<QPushButton>(w, button), Qt::LeftButton);
        QElapsedTimer t;
        t.start();
        while (w->property("building").toBool() && t.elapsed() < 600000)
            QTest::qWait(5);
        EXPECT_FALSE(w->property("building").toBool()) << button;
    }

    QString sample(const char *rel) const { return wd.file(QStringLiteral("samples/") + rel); }

    // The KLM4410 rows of a sample pair ("diff" or "ab") and the output path.
    void fillKlm4410(PluginUIBase *w, const char *pair, const QString &output)
    {
        setRow(w, "partitionRow", sample("klm4410/partition.bin"));
        setRow(w, "oldRow", wd.file(QStringLiteral("samples/klm4410/%1_old.bin").arg(QLatin1String(pair))));
        setRow(w, "newRow", wd.file(QStringLiteral("samples/klm4410/%1_new.bin").arg(QLatin1String(pair))));
        setRow(w, "outputRow", output);
    }

    static QVector<LogRow> logRows(PluginUIBase *w)
    {
        QVector<LogRow> rows;
        auto *table = w->findChild<QTableWidget *>(QStringLiteral("processLog"));
        for (int r = 0; table && r < table->rowCount(); ++r) {
            QTableWidgetItem *level = table->item(r, 1);
            QTableWidgetItem *text = table->item(r, 2);
            if (level && text)
                rows.push_back({level->text(), text->text()});
        }
        return rows;
    }

    // The package at `output` passes the device-side verifier against these samples.
    void expectSound(const QString &output, const char *partition, const char *boot,
                     const char *oldImage, const char *newImage, int method)
    {
        PackageInputs inputs;
        inputs.partition = sample(partition).toStdString();
        inputs.boot = boot ? sample(boot).toStdString() : std::string();
        inputs.oldImage = sample(oldImage).toStdString();
        inputs.newImage = sample(newImage).toStdString();
        inputs.method = method;
        const std::vector<std::string> findings = package_verify_file(output.toStdString(), inputs);
        EXPECT_TRUE(findings.empty()) << findings.front();
    }

    void writeOperMode(int mode)
    {
        const QString body = QStringLiteral(
            "<Root type=\"0\"><Node name=\"m\" paramName=\"operMode\" desc=\"\" paramType=\"1\" "
            "paramValue=\"%1\" paramUpLimit=\"65535\" paramDownLimit=\"0\"/></Root>").arg(mode);
        ASSERT_TRUE(writeGbkXml(wd.file("config/Deltamaker/index.config"), body));
    }

    std::unique_ptr<MainWindow> host;
};

const QString kDiff = QString::fromUtf8("差分升级包");
const QString kCz = QString::fromUtf8("整包压缩升级包");
const QString kAb = QString::fromUtf8("AB升级包");
const QString kBlock = QString::fromUtf8("分块差分升级包");

LogRow info(const QString &text) { return {QStringLiteral("INFO"), text}; }
LogRow error(const QString &text) { return {QStringLiteral("ERROR"), text}; }
LogRow startLine(const QString &button) { return info(QString::fromUtf8("开始生成") + button); }
LogRow successLine(const QString &button) { return info(button + QString::fromUtf8("生成成功")); }
LogRow failLine(const QString &button) { return error(button + QString::fromUtf8("生成失败")); }

TEST_F(DeltamakerWindow, LoadsThroughTheHostAndLaysOutItsWindow)
{
    PluginUIBase *w = open();
    ASSERT_TRUE(w);
    EXPECT_EQ(rows(*host), QStringList{kBase});
    EXPECT_EQ(host->pluginList()->item(0)->text(), QString::fromUtf8("固件升级包生成"));
    EXPECT_TRUE(host->windowTitle().endsWith(QStringLiteral("V1.13"))) << host->windowTitle().toStdString();
    EXPECT_EQ(host->shownPlugin(), w);

    // The base's progress bar fills the status bar, first and without text.
    auto *bar = w->statusBar()->findChild<QProgressBar *>();
    ASSERT_TRUE(bar);
    EXPECT_FALSE(bar->isTextVisible());
    EXPECT_EQ(bar->parentWidget(), w->statusBar());
    host->resize(1200, 800);
    host->show();
    QCoreApplication::processEvents();
    EXPECT_GT(bar->width(), w->statusBar()->width() * 3 / 4);

    auto *splitter = qobject_cast<QSplitter *>(w->centralWidget());
    ASSERT_TRUE(splitter);
    EXPECT_EQ(splitter->orientation(), Qt::Vertical);
    EXPECT_TRUE(splitter->opaqueResize());
    QStringList titles;
    for (int i = 0; i < splitter->count(); ++i)
        titles << qobject_cast<QGroupBox *>(splitter->widget(i))->title();
    EXPECT_EQ(titles, QString::fromUtf8("输入文件|输出|生成升级包|处理日志").split('|'));

    const char *rowNames[] = {"bootRow", "partitionRow", "oldRow", "newRow", "nv1Row", "nv2Row", "outputRow"};
    const QStringList labels = QString::fromUtf8("UBOOT|分区表|旧固件|新固件|配置NV|专属NV|升级包保存路径").split('|');
    const QStringList colours{"#FF0000", "#20B2AA", "#FFA500", "#FFA500", "#8A2BE2", "#3CB371", "#66B3FF"};
    for (int i = 0; i < 7; ++i) {
        QWidget *row = child(w, rowNames[i]);
        ASSERT_TRUE(row);
        EXPECT_FALSE(row->isHidden()) << rowNames[i];
        auto *browse = row->findChild<QPushButton *>();
        EXPECT_EQ(browse->text(), labels[i]);
        EXPECT_TRUE(browse->styleSheet().contains(colours[i])) << rowNames[i];
    }
    EXPECT_EQ(child<QPushButton>(w, "diffButton")->text(), kDiff);
    EXPECT_EQ(child<QPushButton>(w, "czButton")->text(), kCz);
    EXPECT_EQ(child<QPushButton>(w, "abButton")->text(), kAb);

    const QString html = host->plugin(kBase)->historyHtml();
    EXPECT_TRUE(html.startsWith(QString::fromUtf8(
        "<p class=\"versionLog\"><span class=\"versionTitle\">V1.0</span><ol class=\"versionLogContent\">"
        "<li class=\"versionLogContentItem\">首个版本，生成KLM4410差分升级包;</li></ol></p>")));
    EXPECT_EQ(html.count(QStringLiteral("<p class=\"versionLog\">")), 7);
    QStringList order;
    for (int p = 0; (p = html.indexOf(QStringLiteral("versionTitle\">"), p)) >= 0; ++p)
        order << html.mid(p + 14, html.indexOf(QLatin1Char('<'), p) - p - 14);
    EXPECT_EQ(order, QString("V1.0|V1.4|V1.9|V1.10|V1.11|V1.12|V1.13").split('|'));
    EXPECT_TRUE(w->reloadConfig()); // the shipped setting file loads
}

// Every name-carrying element path of a language file.
QStringList langKeys(const QString &file)
{
    QDomDocument doc;
    EXPECT_TRUE(doc.setContent(QTextCodec::codecForName("GBK")->toUnicode(readBytes(file))));
    QStringList keys;
    std::function<void(const QDomElement &, const QString &)> walk = [&](const QDomElement &e, const QString &path) {
        for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
            const QString key = path.isEmpty() ? c.tagName() : path + '/' + c.tagName();
            if (c.hasAttribute("name"))
                keys << key;
            walk(c, key);
        }
    };
    walk(doc.documentElement(), QString());
    return keys;
}

TEST_F(DeltamakerWindow, EnglishCarriesEveryKeyOfChinese)
{
    const QStringList zh = langKeys(wd.file("lang/Deltamaker/zh.lang"));
    EXPECT_EQ(langKeys(wd.file("lang/Deltamaker/en.lang")), zh);
    EXPECT_EQ(zh.size(), 74);

    ASSERT_TRUE(writeBytes(wd.file("lang/Deltamaker/index.config"), "en"));
    PluginUIBase *w = open();
    ASSERT_TRUE(w);
    EXPECT_EQ(host->pluginList()->item(0)->text(), QStringLiteral("Firmware package maker"));
    for (QGroupBox *g : w->findChildren<QGroupBox *>())
        EXPECT_FALSE(g->title().isEmpty());
    for (QPushButton *b : w->findChildren<QPushButton *>()) {
        EXPECT_FALSE(b->text().isEmpty()) << b->objectName().toStdString();
        EXPECT_FALSE(b->toolTip().isEmpty()) << b->objectName().toStdString();
    }
    EXPECT_EQ(child<QPushButton>(w, "blockButton")->text(), QStringLiteral("Block delta package"));
    auto *table = child<QTableWidget>(w, "processLog");
    for (int c = 0; c < 3; ++c)
        EXPECT_FALSE(table->horizontalHeaderItem(c)->text().isEmpty());
    press(w, "czButton");
    EXPECT_EQ(logRows(w), (QVector<LogRow>{
        info("Building Compressed full package"),
        error("Please choose: Partition table,New firmware,Save package as"),
        error("Compressed full package failed")}));
    EXPECT_TRUE(host->windowTitle().endsWith(QStringLiteral("V1.13")));
    EXPECT_FALSE(host->plugin(kBase)->historyHtml().contains(QStringLiteral("\">;</li>")));

    // The log menu speaks the language too.
    emit table->customContextMenuRequested(QPoint(1, 1));
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    ASSERT_TRUE(menu);
    QStringList texts;
    for (QAction *a : menu->actions())
        texts << a->text();
    menu->close();
    EXPECT_EQ(texts, QStringList({"Copy", "Clear table", "Export selection to CSV", "Export selection to HTML",
                                  "Export to CSV", "Export to HTML"}));
}

TEST_F(DeltamakerWindow, LogMenuOffersClearThenExports)
{
    PluginUIBase *w = open();
    ASSERT_TRUE(w);
    auto *table = child<QTableWidget>(w, "processLog");
    emit table->customContextMenuRequested(QPoint(1, 1));
    QMenu *menu = nullptr;
    for (QWidget *top : QApplication::topLevelWidgets())
        if (auto *m = qobject_cast<QMenu *>(top); m && m->isVisible())
            menu = m;
    ASSERT_TRUE(menu);
    QStringList texts;
    for (QAction *a : menu->actions())
        texts << a->text();
    EXPECT_EQ(texts, QString::fromUtf8("复制|清空表格|导出选区到CSV|导出选区到HTML|导出到CSV|导出到HTML").split('|'));
    menu->close();

    // Rows are filled through the file dialog seam with the filters of their kind of file plus
    // every file; the log exports through it as CSV, the extension added.
    testPresenter().fileAnswers = QStringList{sample("klm4410/cz_new.bin")};
    QTest::mouseClick(child(w, "newRow")->findChild<QPushButton *>(), Qt::LeftButton);
    EXPECT_EQ(child(w, "newRow")->findChild<QLineEdit *>()->text(), sample("klm4410/cz_new.bin"));
    EXPECT_EQ(testPresenter().dialogFilters, QStringList{QString::fromUtf8("固件镜像 (*.bin *.img);;所有文件 (*)")});
    const std::pair<const char *, const char *> filters[] = {
        {"partitionRow", "分区表 (*.bin);;所有文件 (*)"}, {"oldRow", "固件镜像 (*.bin *.img);;所有文件 (*)"},
        {"outputRow", "升级包 (*.pkg *.bin);;所有文件 (*)"}};
    for (const auto &f : filters) {
        QTest::mouseClick(child(w, f.first)->findChild<QPushButton *>(), Qt::LeftButton);
        EXPECT_EQ(testPresenter().dialogFilters.last(), QString::fromUtf8(f.second)) << f.first;
    }
    // A package named without an extension gets the filter's.
    testPresenter().fileAnswers = QStringList{wd.file("named")};
    QTest::mouseClick(child(w, "outputRow")->findChild<QPushButton *>(), Qt::LeftButton);
    EXPECT_EQ(child(w, "outputRow")->findChild<QLineEdit *>()->text(), wd.file("named.pkg"));
    setRow(w, "outputRow", QString());
    press(w, "czButton");
    ASSERT_EQ(logRows(w).size(), 3);

    emit table->customContextMenuRequested(QPoint(1, 1));
    menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    ASSERT_TRUE(menu);
    testPresenter().fileAnswers = QStringList{wd.file("log")};
    menu->actions()[4]->trigger();
    menu->close();
    EXPECT_EQ(testPresenter().dialogFilters.last(), QString::fromUtf8("CSV 文件 (*.csv);;所有文件 (*)"));
    const QString csv = QString::fromUtf8(readBytes(wd.file("log.csv")));
    EXPECT_TRUE(csv.contains(QString::fromUtf8("请选择文件：分区表,升级包保存路径"))) << csv.toStdString();
}

TEST_F(DeltamakerWindow, MissingRowsAreNamedAndNothingIsBuilt)
{
    PluginUIBase *w = open();
    ASSERT_TRUE(w);
    const QString output = wd.file("out.pkg");
    setRow(w, "partitionRow", sample("zn3150/partition.bin"));
    setRow(w, "oldRow", sample("zn3150/old.bin"));
    setRow(w, "outputRow", output);
    press(w, "diffButton");
    EXPECT_EQ(logRows(w), (QVector<LogRow>{startLine(kDiff), error(QString::fromUtf8("请选择文件：新固件")),
                                           failLine(kDiff)}));
    EXPECT_FALSE(QFileInfo::exists(output));
    // A press refused at once keeps its log file like any build.
    const QStringList logs = QDir(wd.file("logs/Deltamaker")).entryList({"*.log"}, QDir::Files);
    ASSERT_EQ(logs.size(), 1);
    const QString logText = QString::fromUtf8(readBytes(wd.file("logs/Deltamaker/") + logs.front()));
    EXPECT_EQ(logText.count('\n'), 3);
    EXPECT_TRUE(logText.contains(QString::fromUtf8("   [ERR]   请选择文件：新固件\n")));
    EXPECT_TRUE(logText.endsWith(QStringLiteral("   [ERR]   ") + failLine(kDiff).text + '\n'));
    auto *table = child<QTableWidget>(w, "processLog");
    EXPECT_EQ(table->item(1, 2)->background().color(), QColor("#fde2e2"));   // errors stand out
    EXPECT_EQ(table->item(0, 2)->background().style(), Qt::NoBrush);

    // Every empty required row, in table order, joined by ",".
    for (const char *row : {"partitionRow", "oldRow", "outputRow"})
        setRow(w, row, QString());
    press(w, "abButton");
    press(w, "czButton");
    const QVector<LogRow> log = logRows(w);
    ASSERT_EQ(log.size(), 9);
    EXPECT_EQ(log.mid(3), (QVector<LogRow>{
        startLine(kAb), error(QString::fromUtf8("请选择文件：分区表,旧固件,新固件,升级包保存路径")), failLine(kAb),
        startLine(kCz), error(QString::fromUtf8("请选择文件：分区表,新固件,升级包保存路径")), failLine(kCz)}));

    // A path the request cannot hold is refused rather than cut to another file's name.
    setRow(w, "partitionRow", sample("klm4410/partition.bin"));
    setRow(w, "newRow", sample("klm4410/cz_new.bin"));
    const QString longOutput = wd.file(QString(260, QLatin1Char('p')) + ".pkg");
    setRow(w, "outputRow", longOutput);
    press(w, "czButton");
    EXPECT_EQ(logRows(w).mid(9), (QVector<LogRow>{
        startLine(kCz), error(QString::fromUtf8("升级包保存路径 的路径超过255字节，请换一个较短的路径")),
        failLine(kCz)}));
}

struct ButtonCase {
    const char *button;
    QString text;
    const char *old;
    const char *image;
    const char *boardLine;
    const char *methodLine;
    int method;
};

TEST_F(DeltamakerWindow, EachButtonBuildsAVerifiedPackageAndLogsEveryStep)
{
    PluginUIBase *w = open();
    ASSERT_TRUE(w);
    const ButtonCase cases[] = {
        {"diffButton", kDiff, "zn3150/old.bin", "zn3150/new.bin", "Board ZN3150", "update method DIFF", 3},
        {"czButton", kCz, nullptr, "klm4410/cz_new.bin", "Board KLM4410", "update method CZ", 4},
        {"abButton", kAb, "klm4410/ab_old.bin", "klm4410/ab_new.bin", "Board KLM4410", "update method AB", 2},
    };
    int boardLines = 0;
    for (const ButtonCase &c : cases) {
        SCOPED_TRACE(c.button);
        const bool zn = QByteArray(c.image).startsWith("zn");
        const QString output = wd.file(QStringLiteral("%1.pkg").arg(c.button));
        setRow(w, "partitionRow", sample(zn ? "zn3150/partition.bin" : "klm4410/partition.bin"));
        setRow(w, "oldRow", c.old ? sample(c.old) : QString());
        setRow(w, "newRow", sample(c.image));
        setRow(w, "outputRow", output);
        const int before = logRows(w).size();
        press(w, c.button);

        const QVector<LogRow> log = logRows(w).mid(before);
        ASSERT_GE(log.size(), 5);
        EXPECT_EQ(log.front(), startLine(c.text));
        EXPECT_EQ(log.back(), successLine(c.text));
        QStringList texts;
        for (const LogRow &r : log.mid(1, log.size() - 2)) {
            EXPECT_EQ(r.level, QStringLiteral("INFO")) << r;
            texts << r.text;
        }
        // The board is reported once per library lifetime: by the first build only.
        if (texts.front() == QLatin1String(c.boardLine)) {
            ++boardLines;
            texts.removeFirst();
        }
        ASSERT_GE(texts.size(), 4);
        EXPECT_EQ(texts[0], QStringLiteral("Partition Init ok "));
        EXPECT_EQ(texts[1], QLatin1String(c.methodLine));
        EXPECT_TRUE(texts[2].contains(QStringLiteral("target version"))) << texts[2].toStdString();
        // The size check, then verification as the last step before success.
        EXPECT_TRUE(texts[texts.size() - 2].startsWith(QStringLiteral("partsize check pass")))
            << texts[texts.size() - 2].toStdString();
        EXPECT_EQ(texts.back(), QStringLiteral("package verified"));

        PackageInputs inputs;
        inputs.partition = sample(zn ? "zn3150/partition.bin" : "klm4410/partition.bin").toStdString();
        inputs.oldImage = c.old ? sample(c.old).toStdString() : std::string();
        inputs.newImage = sample(c.image).toStdString();
        inputs.method = c.method;
        const std::vector<std::string> findings = package_verify_file(output.toStdString(), inputs);
        EXPECT_TRUE(findings.empty()) << findings.front();

        // The build's own log file carries the same lines.
        const QString logFile = wd.file("logs/Deltamaker");
        QStringList files = QDir(logFile).entryList({"*.log"}, QDir::Files, QDir::Name);
        ASSERT_FALSE(files.isEmpty());
        const QString logText = QString::fromUtf8(readBytes(logFile + '/' + files.back()));
        EXPECT_EQ(logText.count('\n'), log.size());
        EXPECT_TRUE(logText.startsWith(QString()));
        EXPECT_TRUE(logText.contains(QStringLiteral("   [INF]   ") + startLine(c.text).text + '\n'));
        EXPECT_TRUE(logText.endsWith(QStringLiteral("   [INF]   ") + successLine(c.text).text + '\n'));
    }
    EXPECT_EQ(boardLines, 1);
    EXPECT_EQ(QDir(wd.file("logs/Deltamaker")).entryList({"*.log"}, QDir::Files).size(), 3);
}

TEST_F(DeltamakerWindow, BuildRunsOffTheGuiThreadWithTheControlsDisabled)
{
    PluginUIBase *w = open();
    ASSERT_TRUE(w);
    const QString output = wd.file("delta.pkg");
    setRow(w, "bootRow", sample("klm4410/boot.bin"));
    fillKlm4410(w, "diff", output);
    const QList<QWidget *> controls{child<QPushButton>(w, "diffButton"), child<QPushButton>(w, "czButton"),
                                    child<QPushButton>(w, "blockButton"),
                                    child(w, "newRow")->findChild<QLineEdit *>(),
                                    child(w, "outputRow")->findChild<QPushButton *>()};
    // Images built for delta packages: the A/B button cannot use them.
    EXPECT_FALSE(child<QPushButton>(w, "abButton")->isEnabled());
    auto *bar = w->statusBar()->findChild<QProgressBar *>();
    ASSERT_TRUE(bar);

    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ticks += w->property("building").toBool() ? 1 : 0; });
    timer.start(1);
    QTest::mouseClick(child<QPushButton>(w, "diffButton"), Qt::LeftButton);
    // The press returned while the build runs.
    EXPECT_TRUE(w->property("building").toBool());
    EXPECT_EQ(logRows(w), QVector<LogRow>{startLine(kDiff)});
    for (QWidget *c : controls)
        EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
    EXPECT_TRUE(child(w, "processLog")->isEnabled());   // stays readable and scrollable
    EXPECT_TRUE(bar->maximum() == 0 || bar->value() >= 0);
    EXPECT_FALSE(w->statusBar()->isHidden());   // the progress shows
    // A second press while it runs is not taken.
    QTest::mouseClick(child<QPushButton>(w, "czButton"), Qt::LeftButton);
    QElapsedTimer t;
    t.start();
    while (w->property("building").toBool() && t.elapsed() < 600000)
        QTest::qWait(5);
    timer.stop();
    EXPECT_GT(ticks, 0);   // the GUI thread's event loop kept turning

    for (QWidget *c : controls)
        EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
    const QVector<LogRow> log = logRows(w);
    ASSERT_GE(log.size(), 5);
    EXPECT_EQ(log.front(), startLine(kDiff));
    EXPECT_EQ(log.back(), successLine(kDiff));
    EXPECT_EQ(std::count(log.begin(), log.end(), startLine(kCz)), 0);
    EXPECT_EQ(log[1], info("Board KLM4410"));
    EXPECT_EQ(log[2], info("Partition Init ok "));
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 100);
    auto *table = child<QTableWidget>(w, "processLog");
    EXPECT_EQ(table->rowCount(), log.size() + 1);   // one empty row below the newest line

    expectSound(output, "klm4410/partition.bin", "klm4410/boot.bin", "klm4410/diff_old.bin",
                "klm4410/diff_new.bin", 3);
}

TEST_F(DeltamakerWindow, UnloadingDuringABuildWaitsForIt)
{
    PluginUIBase *w = open();
    ASSERT_TRUE(w);
    const QString output = wd.file("ab.pkg");
    fillKlm4410(w, "ab", output);
    QTest::mouseClick(child<QPushButton>(w, "abButton"), Qt::LeftButton);
    ASSERT_TRUE(w->property("building").toBool());
    ASSERT_TRUE(host->unloadPlugin(kBase, false));
    EXPECT_FALSE(isMapped(wd.file("plugins/Deltamaker/Deltamaker.so")));
    // The build ran to its end and its log file got every line.
    EXPECT_TRUE(QFileInfo::exists(output));
    const QStringList files = QDir(wd.file("logs/Deltamaker")).entryList({"*.log"}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    const QString logText = QString::fromUtf8(readBytes(wd.file("logs/Deltamaker/") + files.front()));
    EXPECT_TRUE(logText.endsWith(QStringLiteral("   [INF]   ") + successLine(kAb).text + '\n')) << logText.toStdString();
}

TEST_F(DeltamakerWindow, OperModeHidesTheBootRowAndDiffNeedsTheSettingFile)
{
    // Low five bits 0x11 hide the row, whatever the other bits say.
    const std::pair<int, bool> modes[] = {{0x11, true}, {0x31, true}, {0x411, true},
                                          {0x10, false}, {0x12, false}, {0x01, false}};
    for (const auto &[mode, hidden] : modes) {
        writeOperMode(mode);
        PluginUIBase *w = open();
        ASSERT_TRUE(w);
        EXPECT_EQ(child(w, "bootRow")->isHidden(), hidden) << mode;
        ASSERT_TRUE(host->unloadPlugin(kBase, false));
        install();
    }

    ASSERT_TRUE(QFile::remove(wd.file("config/Deltamaker/index.config")));
    PluginUIBase *w = open();
    ASSERT_TRUE(w);
    EXPECT_FALSE(child(w, "bootRow")->isHidden());
    fillKlm4410(w, "diff", wd.file("out.pkg"));
    const LogRow missing = error(QString::fromUtf8("找不到配置文件 %1，请先在插件右键菜单中创建配置")
                                     .arg(wd.file("config/Deltamaker/index.config")));
    press(w, "diffButton");
    press(w, "czButton");
    EXPECT_EQ(logRows(w), (QVector<LogRow>{startLine(kDiff), missing, failLine(kDiff),
                                           startLine(kCz), missing, failLine(kCz)}));
    EXPECT_FALSE(QFileInfo::exists(wd.file("out.pkg")));
    // The A/B build does not read the setting file.
    setRow(w, "oldRow", sample("klm4410/ab_old.bin"));
    setRow(w, "newRow", sample("klm4410/ab_new.bin"));
    press(w, "abButton");
    EXPECT_EQ(logRows(w).back(), successLine(kAb));
    EXPECT_TRUE(QFileInfo::exists(wd.file("out.pkg")));
}

TEST_F(DeltamakerWindow, OptimizeSettingSelectsTheOptimisingEncoder)
{
    const QString body = QStringLiteral(
        "<Root type=\"0\"><Node name=\"m\" paramName=\"operMode\" desc=\"\" paramType=\"1\" "
        "paramValue=\"0\" paramUpLimit=\"65535\" paramDownLimit=\"0\"/><Node name=\"o\" "
        "paramName=\"optimize\" desc=\"\" paramType=\"1\" paramValue=\"1\" paramUpLimit=\"1\" "
        "paramDownLimit=\"0\"/></Root>");
    ASSERT_TRUE(writeGbkXml(wd.file("config/Deltamaker/index.config"), body));
    PluginUIBase *w = open();
    ASSERT_TRUE(w);
    const QString output = wd.file(QStringLiteral("optimised.pkg"));
    setRow(w, "partitionRow", sample("zn3150/partition.bin"));
    setRow(w, "oldRow", sample("zn3150/old.bin"));
    setRow(w, "newRow", sample("zn3150/new.bin"));
    setRow(w, "outputRow", output);
    press(w, "diffButton");
    const QVector<LogRow> log = logRows(w);
    ASSERT_FALSE(log.isEmpty());
    EXPECT_EQ(log.back(), successLine(kDiff));
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const LogRow &r) {
        return r.text.startsWith(QStringLiteral("optimising encoder"));
    }));
    expectSound(output, "zn3150/partition.bin", nullptr, "zn3150/old.bin", "zn3150/new.bin", 3);
}

TEST_F(DeltamakerWindow, ReleaseThenCreateGivesAFreshWindow)
{
    QLibrary lib(pluginFile());
    ASSERT_TRUE(lib.load()) << lib.errorString().toStdString();
    auto create = reinterpret_cast<PluginCreateFn>(lib.resolve("Create"));
    auto release = reinterpret_cast<PluginReleaseFn>(lib.resolve("Release"));
    ASSERT_TRUE(create && release);
    PluginUIBase *first = create();
    ASSERT_TRUE(first);
    EXPECT_EQ(create(), first);
    first->initialised = true;
    release();
    release(); // a second release has nothing to free
    PluginUIBase *second = create();
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->initialised);
    EXPECT_EQ(second->centralWidget(), nullptr);
    release();
}

TEST_F(DeltamakerWindow, UnloadAndLoadAgainStartsANewLifetime)
{
    PluginUIBase *w = open();
    ASSERT_TRUE(w);
    auto build = [&](PluginUIBase *win) {
        setRow(win, "partitionRow", sample("klm4410/partition.bin"));
        setRow(win, "oldRow", sample("klm4410/ab_old.bin"));
        setRow(win, "newRow", sample("klm4410/ab_new.bin"));
        setRow(win, "outputRow", wd.file("ab.pkg"));
        press(win, "abButton");
        return logRows(win);
    };
    QVector<LogRow> log = build(w);
    ASSERT_GE(log.size(), 3);
    EXPECT_EQ(log[1], info("Board KLM4410"));
    EXPECT_EQ(log.back(), successLine(kAb));

    ASSERT_TRUE(host->unloadPlugin(kBase, false));
    EXPECT_EQ(host->plugin(kBase), nullptr);
    EXPECT_FALSE(isMapped(wd.file("plugins/Deltamaker/Deltamaker.so")));
    install();
    host->loadPlugins();
    host->showPluginByName(kBase);
    ASSERT_TRUE(host->plugin(kBase));
    PluginUIBase *again = host->plugin(kBase)->window();
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->initialised);
    log = build(again);
    ASSERT_GE(log.size(), 3);
    EXPECT_EQ(log[1], info("Board KLM4410"));   // a fresh library reports the board again
    EXPECT_EQ(log.back(), successLine(kAb));
}

// Sends the pointer onto a build button, as a user does on the way to pressing it.
void pointAt(QWidget *button)
{
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(button, &enter);
}

TEST_F(DeltamakerWindow, BlockButtonTakesTheZN3150BootImageAndNvFiles)
{
    PluginUIBase *w = open();
    ASSERT_TRUE(w);
    const QString output = wd.file("zn3150_block.pkg");
    const std::pair<const char *, const char *> rows[] = {
        {"bootRow", "zn3150/boot.bin"}, {"partitionRow", "zn3150/partition.bin"}, {"oldRow", "zn3150/old.bin"},
        {"newRow", "zn3150/new.bin"},   {"nv1Row", "zn3150/nv_usr.bin"},        {"nv2Row", "zn3150/nv_amt.bin"}};
    for (const auto &r : rows)
        setRow(w, r.first, sample(r.second));
    setRow(w, "outputRow", output);
    QTest::mouseClick(child(w, "nv1Row")->findChild<QPushButton *>(), Qt::LeftButton);   // cancelled
    EXPECT_EQ(testPresenter().dialogFilters, QStringList{QString::fromUtf8("NV 文件 (*.bin);;所有文件 (*)")});
    EXPECT_EQ(testPresenter().dialogDirs, QStringList{sample("zn3150/nv_usr.bin")});
    auto *plan = child<QLabel>(w, "planLine");
    EXPECT_EQ(plan->text(), QString::fromUtf8("ZN3150：把鼠标移到按钮上或用 Tab 键选中按钮，这里会说明它用到哪些行"));

    // ZN3150 builds neither compressed nor A/B packages: those buttons say so.
    for (const char *name : {"czButton", "abButton"}) {
        auto *b = child<QPushButton>(w, name);
        EXPECT_FALSE(b->isEnabled()) << name;
        EXPECT_TRUE(b->toolTip().contains(QString::fromUtf8("ZN3150 不能生成%1，请用差分升级包或分块差分升级包")
                                              .arg(b->text()))) << b->toolTip().toStdString();
    }
    // The in-place button leaves the boot image and NV files out, and its rows show it.
    pointAt(child(w, "diffButton"));
    for (const char *name : {"bootRow", "nv1Row", "nv2Row"}) {
        EXPECT_FALSE(child(w, name)->isEnabled()) << name;
        EXPECT_TRUE(child(w, name)->toolTip().contains(QString::fromUtf8(
            "ZN3150 的差分升级包没有引导镜像和 NV 文件的位置：此行不会使用；分块差分升级包会使用它")))
            << child(w, name)->toolTip().toStdString();
    }
    EXPECT_EQ(plan->text(), QString::fromUtf8("差分升级包（ZN3150）使用：分区表、旧固件、新固件；不使用：UBOOT、配置NV、专属NV"));
    // The block button uses every row.
    pointAt(child(w, "blockButton"));
    for (const auto &r : rows)
        EXPECT_TRUE(child(w, r.first)->isEnabled()) << r.first;
    EXPECT_EQ(plan->text(), QString::fromUtf8("分块差分升级包（ZN3150）使用：UBOOT、分区表、旧固件、新固件、配置NV、专属NV"));

    press(w, "blockButton");
    const QVector<LogRow> log = logRows(w);
    ASSERT_FALSE(log.isEmpty());
    EXPECT_EQ(log.front(), startLine(kBlock));
    EXPECT_EQ(log.back(), successLine(kBlock));
    PackageInputs inputs;
    inputs.partition = sample("zn3150/partition.bin").toStdString();
    inputs.boot = sample("zn3150/boot.bin").toStdString();
    inputs.oldImage = sample("zn3150/old.bin").toStdString();
    inputs.newImage = sample("zn3150/new.bin").toStdString();
    inputs.nv1 = sample("zn3150/nv_usr.bin").toStdString();
    inputs.nv2 = sample("zn3150/nv_amt.bin").toStdString();
    inputs.method = 1;
    const std::vector<std::string> findings = package_verify_file(output.toStdString(), inputs);
    EXPECT_TRUE(findings.empty()) << findings.front();
}

TEST_F(DeltamakerWindow, HiddenAndLeftOutRowsPassNoPath)
{
    writeOperMode(0x11);   // hides the boot row
    PluginUIBase *w = open();
    ASSERT_TRUE(w);
    ASSERT_TRUE(child(w, "bootRow")->isHidden());
    setRow(w, "bootRow", sample("zn3150/boot.bin"));
    setRow(w, "partitionRow", sample("zn3150/partition.bin"));
    setRow(w, "oldRow", sample("zn3150/old.bin"));
    setRow(w, "newRow", sample("zn3150/new.bin"));
    const QString output = wd.file("inplace.pkg");
    setRow(w, "outputRow", output);
    press(w, "diffButton");
    QVector<LogRow> log = logRows(w);
    ASSERT_FALSE(log.isEmpty());
    EXPECT_EQ(log.back(), successLine(kDiff));
    for (const LogRow &r : log)
        EXPECT_NE(r.level, QStringLiteral("ERROR")) << r;   // no "would ignore: boot image"
    expectSound(output, "zn3150/partition.bin", nullptr, "zn3150/old.bin", "zn3150/new.bin", 3);
    // A hidden row is left out of the plan's line too.
    EXPECT_FALSE(child<QLabel>(w, "planLine")->text().contains(QStringLiteral("UBOOT")));

    // A filled NV row that the pressed button cannot use is left out, and the log says so.
    setRow(w, "nv1Row", sample("zn3150/nv_usr.bin"));
    const QString second = wd.file("inplace2.pkg");
    setRow(w, "outputRow", second);
    const int before = logRows(w).size();
    press(w, "diffButton");
    log = logRows(w).mid(before);
    ASSERT_GE(log.size(), 3);
    EXPECT_EQ(log[1], (LogRow{QStringLiteral("WARN"), QString::fromUtf8("差分升级包不使用这些行，未传给生成器：配置NV")}));
    EXPECT_EQ(log.back(), successLine(kDiff));
    expectSound(second, "zn3150/partition.bin", nullptr, "zn3150/old.bin", "zn3150/new.bin", 3);

    // KLM4410 packages carry no NV files: the row is left out whichever button is pressed.
    setRow(w, "partitionRow", sample("klm4410/partition.bin"));
    setRow(w, "oldRow", sample("klm4410/diff_old.bin"));
    setRow(w, "newRow", sample("klm4410/diff_new.bin"));
    EXPECT_FALSE(child(w, "nv1Row")->isEnabled());
    EXPECT_TRUE(child(w, "nv1Row")->toolTip().contains(QString::fromUtf8("KLM4410 升级包不带 NV 文件：此行不会使用")));
    EXPECT_TRUE(child(w, "nv2Row")->isEnabled() == false);
}

TEST_F(DeltamakerWindow, ReplacingAPackageAsksFirst)
{
    PluginUIBase *w = open();
    ASSERT_TRUE(w);
    const QString output = wd.file("same.pkg");
    fillKlm4410(w, "diff", output);
    press(w, "diffButton");
    ASSERT_EQ(logRows(w).back(), successLine(kDiff));
    EXPECT_TRUE(messages().isEmpty());   // a new file is written without a question
    const QByteArray first = readBytes(output);
    ASSERT_FALSE(first.isEmpty());

    // "No" keeps the file byte for byte and builds nothing.
    testPresenter().questionAnswer = false;
    const int before = logRows(w).size();
    press(w, "czButton");
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Question);
    EXPECT_EQ(messages()[0].text, QString::fromUtf8("%1 已存在，要替换它吗？").arg(output));
    EXPECT_EQ(messages()[0].title, QString::fromUtf8("固件升级包生成"));
    EXPECT_EQ(readBytes(output), first);
    EXPECT_EQ(logRows(w).mid(before), QVector<LogRow>{info(QString::fromUtf8("保留了已有的 %1，没有生成升级包").arg(output))});

    // "Yes" replaces it.
    testPresenter().questionAnswer = true;
    press(w, "czButton");
    EXPECT_EQ(messages().size(), 2);
    EXPECT_EQ(logRows(w).back(), successLine(kCz));
    EXPECT_NE(readBytes(output), first);
}

TEST_F(DeltamakerWindow, RowsFoldersAndLogComeBackAfterARestart)
{
    PluginUIBase *w = open();
    ASSERT_TRUE(w);
    ASSERT_TRUE(QFile::copy(sample("klm4410/diff_old.bin"), wd.file("gone.bin")));
    setRow(w, "partitionRow", sample("klm4410/partition.bin"));
    setRow(w, "oldRow", wd.file("gone.bin"));
    setRow(w, "outputRow", wd.file("out/delta.pkg"));
    press(w, "diffButton");   // refused: no new image yet
    const QVector<LogRow> log = logRows(w);
    ASSERT_EQ(log.size(), 3);
    testPresenter().fileAnswers = QStringList{sample("klm4410/diff_new.bin")};
    QTest::mouseClick(child(w, "newRow")->findChild<QPushButton *>(), Qt::LeftButton);
    // The host may restart at any moment after (a language switch ends the process at once):
    // the session is on disk shortly after the last change.
    QTest::qWait(400);
    const QString session = wd.file("config/Deltamaker/session.json");
    ASSERT_TRUE(QFileInfo::exists(session));
    const QByteArray saved = readBytes(session);
    EXPECT_TRUE(saved.contains(sample("klm4410/diff_new.bin").toUtf8()));
    EXPECT_TRUE(saved.contains("\"level\": 1"));
    // The setting file is left alone.
    EXPECT_FALSE(readBytes(wd.file("config/Deltamaker/index.config")).contains("diff_new"));

    ASSERT_TRUE(QFile::remove(wd.file("gone.bin")));
    ASSERT_TRUE(writeBytes(wd.file("copy.json"), saved));
    ASSERT_TRUE(host->unloadPlugin(kBase, false));
    ASSERT_TRUE(QFile::remove(session));
    ASSERT_TRUE(QFile::copy(wd.file("copy.json"), session));   // as a restart finds it
    install();
    w = open();
    ASSERT_TRUE(w);
    const auto edit = [&](const char *row) { return child(w, row)->findChild<QLineEdit *>(); };
    EXPECT_EQ(edit("partitionRow")->text(), sample("klm4410/partition.bin"));
    EXPECT_EQ(edit("newRow")->text(), sample("klm4410/diff_new.bin"));
    EXPECT_EQ(edit("outputRow")->text(), wd.file("out/delta.pkg"));
    EXPECT_EQ(edit("bootRow")->text(), QString());
    // Paths that name nothing are shown, marked, and say so.
    EXPECT_EQ(edit("oldRow")->text(), wd.file("gone.bin"));
    EXPECT_TRUE(edit("oldRow")->property("missing").toBool());
    EXPECT_TRUE(child(w, "oldRow")->toolTip().contains(QString::fromUtf8("文件不存在：%1").arg(wd.file("gone.bin"))));
    EXPECT_TRUE(edit("outputRow")->property("missing").toBool());
    EXPECT_TRUE(child(w, "outputRow")->toolTip().contains(QString::fromUtf8("文件夹不存在：%1").arg(wd.file("out"))));
    EXPECT_FALSE(edit("newRow")->property("missing").toBool());
    EXPECT_EQ(edit("oldRow")->palette().color(QPalette::Text), QColor("#f56c6c"));
    // The log and the folder of the row's last dialog.
    EXPECT_EQ(logRows(w), log);
    auto *table = child<QTableWidget>(w, "processLog");
    EXPECT_EQ(table->item(1, 2)->background().color(), QColor("#fde2e2"));
    testPresenter().clear();
    setRow(w, "newRow", QString());
    QTest::mouseClick(child(w, "newRow")->findChild<QPushButton *>(), Qt::LeftButton);
    EXPECT_EQ(testPresenter().dialogDirs, QStringList{sample("klm4410")});

    // Clearing the log clears what is remembered of it.
    emit table->customContextMenuRequested(QPoint(1, 1));
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    ASSERT_TRUE(menu);
    for (QAction *a : menu->actions())
        if (a->objectName() == "clear")
            a->trigger();
    menu->close();
    QTest::qWait(400);
    EXPECT_FALSE(readBytes(session).contains("\"level\""));
}

TEST_F(DeltamakerWindow, EnterPressesTheFocusedButtonAndEveryControlExplainsItself)
{
    PluginUIBase *w = open();
    ASSERT_TRUE(w);
    host->activateWindow();
    auto *cz = child<QPushButton>(w, "czButton");
    cz->setFocus();
    QTest::keyClick(cz, Qt::Key_Return);
    QElapsedTimer t;
    t.start();
    while (logRows(w).size() < 3 && t.elapsed() < 5000)
        QTest::qWait(10);
    EXPECT_EQ(logRows(w).value(0), startLine(kCz));
    for (const char *name : {"bootRow", "partitionRow", "oldRow", "newRow", "nv1Row", "nv2Row", "outputRow",
                             "diffButton", "czButton", "abButton", "blockButton"}) {
        EXPECT_FALSE(child(w, name)->toolTip().isEmpty()) << name;
        if (QWidget *browse = child(w, name)->findChild<QPushButton *>()) {
            EXPECT_EQ(browse->toolTip(), child(w, name)->toolTip()) << name;
        }
    }
    EXPECT_EQ(child(w, "diffButton")->toolTip(),
              QString::fromUtf8("原地差分升级包（方法 3）：设备不需要第二份固件，就地打补丁。KLM4410 和 ZN3150 都可用"));
}

TEST_F(DeltamakerWindow, ARefusedPressShowsItsOwnEndOnTheProgressBar)
{
    PluginUIBase *w = open();
    ASSERT_TRUE(w);
    auto *bar = w->statusBar()->findChild<QProgressBar *>();
    ASSERT_TRUE(bar);
    fillKlm4410(w, "ab", wd.file("ab.pkg"));
    press(w, "abButton");
    EXPECT_EQ(bar->value(), 100);
    setRow(w, "newRow", QString());
    press(w, "abButton");
    EXPECT_EQ(logRows(w).back(), failLine(kAb));
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(QDir(wd.file("logs/Deltamaker")).entryList({"*.log"}, QDir::Files).size(), 2);
}

} // namespace

TEST_F(DeltamakerWindow, OperModeEditedInTheSettingEditorTakesEffectAtOnce)
{
    PluginUIBase *w = open(); // the shipped settings: operMode 0
    ASSERT_TRUE(w);
    EXPECT_FALSE(child(w, "bootRow")->isHidden());
    PluginInfo *info = host->plugin(kBase);
    auto editOperMode = [&](int mode) {
        onNextModal([mode](QDialog *d) {
            auto *editor = qobject_cast<SettingWindow *>(d);
            ASSERT_TRUE(editor);
            QTreeWidgetItem *node = editor->tree()->rootItem()->child(0);
            ASSERT_EQ(SettingConfigTree::itemData(node).paramName, "operMode");
            editor->tree()->setCurrentItem(node);
            editor->attrList()->valueEdit()->setText(QString::number(mode));
            editor->saveButton()->click();
        });
        std::unique_ptr<SysMenu> menu(host->buildPluginMenu(info));
        for (QAction *a : menu->actions()) {
            if (a->text() == "[updateSetting]")
                a->trigger();
        }
    };

    editOperMode(0x11);
    EXPECT_TRUE(child(w, "bootRow")->isHidden());
    int mode = 0;
    ASSERT_TRUE(info->config(false));
    EXPECT_TRUE(info->config(false)->getInt("operMode", mode));
    EXPECT_EQ(mode, 0x11);
    editOperMode(0x12);
    EXPECT_FALSE(child(w, "bootRow")->isHidden());
    EXPECT_TRUE(messages().isEmpty());
    EXPECT_EQ(host->shownPlugin(), w);
}
