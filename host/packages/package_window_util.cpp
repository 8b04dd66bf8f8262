#include "host/packages/package_window_util_p.h"

#include "widgetkit/sys_button.h"
#include "widgetkit/sys_dialog.h"
#include "widgetkit/sys_file_select.h"
#include "widgetkit/sys_group_box.h"
#include "widgetkit/sys_layouts.h"
#include "widgetkit/sys_splitter.h"

#include <QFileInfo>
#include <QVariantList>

namespace Internal {

namespace {

// A filter entry: the text of `key`, or the Chinese one where the language files lack it.
QString filterEntry(MainWindow *main, const char *key, const char *chinese, const char *pattern)
{
    QString entry = main->langStore().find(QStringLiteral("Tessel"), QLatin1String(key));
    if (entry.trimmed().isEmpty())
        entry = QString::fromUtf8(chinese);
    // A text without a pattern would be taken as one, matching nothing.
    if (!entry.contains(QLatin1Char('(')))
        entry += QStringLiteral(" (%1)").arg(QLatin1String(pattern));
    return entry;
}

// The folders live on the main window, which outlives every dialog it opens.
const char kFoldersProperty[] = "packageDialogFolders";

} // namespace

QStringList fileFilters(MainWindow *main, FileKind kind)
{
    QStringList filters;
    if (kind == FileKind::Template)
        filters << filterEntry(main, "filter/template", "模板 (*.tpl)", "*.tpl");
    else if (kind == FileKind::Package)
        filters << filterEntry(main, "filter/package", "插件包 (*.plug)", "*.plug");
    return filters << filterEntry(main, "filter/all", "所有文件 (*)", "*");
}

QString lastFolder(MainWindow *main, FileKind kind, const QString &fallback)
{
    const QString folder = main->property(kFoldersProperty).toList().value(int(kind)).toString();
    return folder.isEmpty() ? fallback : folder;
}

void rememberFolder(MainWindow *main, FileKind kind, const QString &path)
{
    if (path.isEmpty())
        return;
    QVariantList folders = main->property(kFoldersProperty).toList();
    while (folders.size() < int(FileKind::KindCount))
        folders << QString();
    folders[int(kind)] = QFileInfo(path).absolutePath();
    main->setProperty(kFoldersProperty, folders);
}

SysGroupBox *packageGroup(const QString &title)
{
    auto *group = new SysGroupBox(nullptr, title);
    group->setBorderColor(QStringLiteral("#409eff"));
    return group;
}

SelectorRow selectorRow(MainWindow *main, FileKind kind, const QString &startFolder,
                        const QString &title, const QString &selectText,
                        const QString &firstText, const char *firstColour,
                        const QString &secondText, const char *secondColour)
{
    SelectorRow row;
    row.group = packageGroup(title);
    auto *layout = new SysHLayout(row.group);
    row.select = new SysFileSelect(row.group, selectText, fileFilters(main, kind));
    row.select->setThemeColor(QStringLiteral("#FFA500"));
    row.select->setCaption(selectText);
    row.select->setStartDirectory(lastFolder(main, kind, startFolder));
    QObject::connect(row.select, &SysFileSelect::selected, row.select,
                     [main, kind](const QString &path) { rememberFolder(main, kind, path); });
    row.first = new SysButton(row.group, firstText);
    row.first->setThemeColor(QLatin1String(firstColour));
    row.second = new SysButton(row.group, secondText);
    row.second->setThemeColor(QLatin1String(secondColour));
    layout->addWidget(row.select, 1);
    layout->addWidget(row.first);
    layout->addWidget(row.second);
    return row;
}

void layOutPackageDialog(SysDialog *dialog, QWidget *top, QWidget *bottom)
{
    auto *splitter = new SysSplitter(dialog);
    splitter->setHorizontal(false);
    splitter->setOpaqueResize(true);
    splitter->addWidget(top);
    splitter->addWidget(bottom);
    splitter->setCollapsible(0, false);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    auto *layout = new SysVLayout(dialog);
    layout->addWidget(splitter);
}

} // namespace Internal
