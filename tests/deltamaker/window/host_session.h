// The real host with the real Deltamaker.so, started as a user starts it: a copy of the build's
// runtime folder as working folder, option "-c Deltamaker", the window at its own start size.
// Builds are pressed through the window's buttons and awaited through its process log.
#pragma once

#include "host/main_window.h"
#include "host/plugin_info.h"
#include "tests/host/host_test_util.h"
#include "tests/support/test_paths.h"

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace WindowTest {

// The KLM4410 in-place delta rows of the shipped samples.
struct SampleRow {
    const char *row;
    const char *path;
};
const SampleRow kDeltaRows[] = {{"bootRow", "samples/klm4410/boot.bin"},
                                {"partitionRow", "samples/klm4410/partition.bin"},
                                {"oldRow", "samples/klm4410/diff_old.bin"},
                                {"newRow", "samples/klm4410/diff_new.bin"},
                                {"outputRow", "klm4410_delta.pkg"}};

class HostSession
{
public:
    // Empty when the runtime folder could not be copied or the plug-in did not load.
    // `language` ("zh", "en") becomes the host's and the plug-in's language first.
    bool start(const char *language = nullptr)
    {
        if (!copyTreeFiles(TestPaths::runtimeDir(), wd.path()))
            return false;
        for (const char *context : {"Tessel", "Deltamaker"})
            if (language && !writeBytes(wd.file(QStringLiteral("lang/%1/index.config").arg(QLatin1String(context))),
                                        QByteArray(language)))
                return false;
        host = std::make_unique<MainWindow>();
        host->setRelaunch([](const std::string &) { return false; });
        std::vector<const char *> argv{"Tessel", "-mutex", "0", "-c", "Deltamaker"};
        host->init(AppArgs(int(argv.size()), argv.data(), true));
        host->show();
        if (!QTest::qWaitForWindowExposed(host.get(), 10000))
            return false;
        PluginInfo *info = host->plugin(QStringLiteral("Deltamaker"));
        window = info ? info->window() : nullptr;
        return window != nullptr;
    }

    ~HostSession()
    {
        if (host)
            host->hide();
    }

    QWidget *child(const char *name) const { return window->findChild<QWidget *>(QLatin1String(name)); }

    void setRow(const char *row, const QString &path)
    {
        child(row)->findChild<QLineEdit *>()->setText(path);
    }

    void fillDeltaRows()
    {
        for (const SampleRow &r : kDeltaRows)
            setRow(r.row, wd.file(QLatin1String(r.path)));
    }

    QTableWidget *log() const { return window->findChild<QTableWidget *>(QStringLiteral("processLog")); }

    // Texts of the log's content column, in row order, up to the last written row.
    QStringList logTexts() const
    {
        QStringList texts;
        QTableWidget *table = log();
        for (int r = 0; table && r < table->rowCount(); ++r) {
            const QTableWidgetItem *it = table->item(r, 2);
            if (!it || it->text().isEmpty())
                break;
            texts << it->text();
        }
        return texts;
    }

    // Presses the button and waits until the log ends with its success or failure line.
    // True when the build succeeded; `finished` tells whether it ended within the time.
    bool press(const char *button, int timeoutMs, bool *finished = nullptr)
    {
        auto *b = window->findChild<QPushButton *>(QLatin1String(button));
        const QString name = b ? b->text() : QString();
        const int before = logTexts().size();
        if (b)
            QTest::mouseClick(b, Qt::LeftButton);
        QElapsedTimer t;
        t.start();
        bool done = false, ok = false;
        while (b && !done && t.elapsed() < timeoutMs) {
            const QStringList texts = logTexts();
            if (texts.size() > before + 1) {
                // The end lines of the shipped languages.
                ok = texts.last() == name + QString::fromUtf8("生成成功") || texts.last() == name + " built";
                done = ok || texts.last() == name + QString::fromUtf8("生成失败") || texts.last() == name + " failed";
            }
            if (!done)
                QTest::qWait(20);
        }
        if (finished)
            *finished = done;
        return ok;
    }

    ScopedWorkDir wd;
    std::unique_ptr<MainWindow> host;
    PluginUIBase *window = nullptr;   // owned by the plug-in
};

} // namespace WindowTest
