#include "host/packages/gen_pkg_window.h"

#include "common/dialogs.h"
#include "host/packages/package_files.h"
#include "host/packages/package_window_util_p.h"
#include "widgetkit/sys_button.h"
#include "widgetkit/sys_file_select.h"
#include "widgetkit/sys_group_box.h"
#include "widgetkit/sys_layouts.h"
#include "widgetkit/sys_menu.h"
#include "widgetkit/sys_table.h"

#include <QCursor>
#include <QDir>
#include <QFileInfo>

GenPkgWindow::GenPkgWindow(MainWindow *main) : SysDialog(main), m_main(main)
{
    setWindowTitle(text("genPkg/title"));
    resizeRatio(0.75, main);

    m_groupTitle = text("genPkg/tempMgr/title");
    // Templates name files below the working folder, and are kept there unless the user has
    // chosen another folder.
    const Internal::SelectorRow row = Internal::selectorRow(
        m_main, Internal::FileKind::Template, QDir::currentPath(), m_groupTitle,
        text("genPkg/tempMgr/action/openTemp"), text("genPkg/tempMgr/action/genTemp"), "#FF69B4",
        text("genPkg/tempMgr/action/packPlugin"), "#20B2AA");
    m_template = row.select;
    m_saveTemplate = row.first;
    m_pack = row.second;

    auto *files = Internal::packageGroup(text("genPkg/fileList/title"));
    auto *filesLayout = new SysVLayout(files);
    auto *buttons = new SysHLayout;
    m_add = new SysButton(files, text("genPkg/fileList/addFile"));
    m_clear = new SysButton(files, text("genPkg/fileList/clear"));
    m_clear->setThemeColor(QStringLiteral("#DEB887"));
    buttons->addWidget(m_add);
    buttons->addWidget(m_clear);
    buttons->addStretch(1);
    filesLayout->addLayout(buttons);
    m_table = new SysTable(files, {text("genPkg/fileList/header/fileName"),
                                   text("genPkg/fileList/header/relPath")});
    m_table->setColumnWidth(0, 400);
    m_table->setEditable(false);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    filesLayout->addWidget(m_table);

    Internal::layOutPackageDialog(this, row.group, files);

    connect(m_template, &SysFileSelect::selected, this, [this](const QString &path) { openTemplate(path); });
    connect(m_saveTemplate, &QPushButton::clicked, this, &GenPkgWindow::saveTemplateAs);
    connect(m_pack, &QPushButton::clicked, this, &GenPkgWindow::packAs);
    connect(m_add, &QPushButton::clicked, this, &GenPkgWindow::chooseFiles);
    connect(m_clear, &QPushButton::clicked, this, &GenPkgWindow::clearList);
    connect(m_table, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        if (SysMenu *menu = buildRowMenu(m_table->rowAt(pos.y())))
            menu->popup(QCursor::pos());
    });
}

QString GenPkgWindow::text(const char *key) const
{
    return Internal::hostText(m_main, key);
}

bool GenPkgWindow::addFile(const QString &path)
{
    if (m_listed.contains(path))
        return true;
    QString relative;
    if (!Packages::relativeToWorkDir(path, QDir::currentPath(), relative)) {
        showErrorText(windowTitle(), formatPattern(text("genPkg/fileIsNotUnderWorkDirFmt"), {path}));
        return false;
    }
    const QFileInfo fi(path);
    QString name = fi.fileName();
    if (!fi.exists())
        name += text("genPkg/notExist");
    const int slash = relative.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QStringLiteral("/") : QLatin1Char('/') + relative.left(slash);
    const int row = m_packList.size();
    m_table->setRowTexts(row, {name, folder});
    m_table->ensureItem(row, 0)->setData(Qt::UserRole, path);
    m_packList << path;
    m_listed.insert(path);
    return true;
}

void GenPkgWindow::addFiles(const QStringList &paths)
{
    for (const QString &path : paths) {
        if (!addFile(path))
            return;
    }
}

void GenPkgWindow::chooseFiles()
{
    const QStringList chosen = openFilesDialog(
        this, m_add->text(),
        Internal::lastFolder(m_main, Internal::FileKind::PackedFile, QDir::currentPath()), QString());
    if (!chosen.isEmpty())
        Internal::rememberFolder(m_main, Internal::FileKind::PackedFile, chosen.first());
    addFiles(chosen);
}

void GenPkgWindow::clearList()
{
    m_table->clearContents();
    m_packList.clear();
    m_listed.clear();
}

bool GenPkgWindow::openTemplate(const QString &templatePath)
{
    QStringList files;
    QString why;
    if (!Packages::loadTemplate(templatePath, files, &why)) {
        // The box names the file and its fault on a second line.
        showErrorText(m_groupTitle, text("genPkg/tempMgr/tempLoadFailed") + QLatin1Char('\n') + why);
        return false;
    }
    clearList();
    addFiles(files);
    return true;
}

bool GenPkgWindow::listIsEmpty()
{
    if (!m_packList.isEmpty())
        return false;
    showErrorText(windowTitle(), text("genPkg/packListIsEmpty"));
    return true;
}

void GenPkgWindow::saveTemplateAs()
{
    if (listIsEmpty())
        return;
    const QString title = m_saveTemplate->text();
    const QString start =
        m_template->path().isEmpty()
            ? Internal::lastFolder(m_main, Internal::FileKind::Template, QDir::currentPath())
            : m_template->path();
    const QString path =
        saveFileDialog(this, title, start,
                       Internal::fileFilters(m_main, Internal::FileKind::Template).join(QStringLiteral(";;")));
    if (path.isEmpty())
        return;
    Internal::rememberFolder(m_main, Internal::FileKind::Template, path);
    if (!Packages::saveTemplate(m_packList, path)) {
        showErrorText(title, text("genPkg/tempMgr/tempSaveFailed"));
        return;
    }
    showInfoText(title, text("genPkg/tempMgr/tempSaveSuccess"));
    m_template->setPath(path);
}

void GenPkgWindow::packAs()
{
    if (listIsEmpty())
        return;
    const QString title = m_pack->text();
    // Named after the template, in the folder packages were last built in.
    const QString folder =
        Internal::lastFolder(m_main, Internal::FileKind::Package, QDir::currentPath());
    const QString proposal =
        m_template->path().isEmpty()
            ? folder
            : QStringLiteral("%1/%2.plug").arg(folder, QFileInfo(m_template->path()).baseName());
    const QString path =
        saveFileDialog(this, title, proposal,
                       Internal::fileFilters(m_main, Internal::FileKind::Package).join(QStringLiteral(";;")));
    if (path.isEmpty())
        return;
    Internal::rememberFolder(m_main, Internal::FileKind::Package, path);
    Packages::PackageMessage error;
    if (!Packages::writePackage(m_packList, path, &error)) {
        // The box names the file that stopped the pack on a second line.
        showErrorText(title, text("genPkg/tempMgr/packFailed") + QLatin1Char('\n')
                                 + Internal::messageText(m_main, error));
        return;
    }
    showInfoText(title, text("genPkg/tempMgr/packSuccess"));
}

SysMenu *GenPkgWindow::buildRowMenu(int row)
{
    if (row < 0 || row >= m_packList.size())
        return nullptr;
    auto *menu = new SysMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    connect(menu->addAction(text("genPkg/fileList/action/removeFile")), &QAction::triggered, this,
            [this, row] { removeRow(row); });
    return menu;
}

void GenPkgWindow::removeRow(int row)
{
    if (row < 0 || row >= m_packList.size())
        return;
    const QString path = m_table->ensureItem(row, 0)->data(Qt::UserRole).toString();
    m_table->removeRow(row);
    m_packList.removeOne(path);
    m_listed.remove(path);
}
