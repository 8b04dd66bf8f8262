// What the two package dialogs share: texts of the host, their groups and their layout.
#pragma once

#include "host/main_window.h"
#include "host/packages/package_format.h"

#include "common/text_format.h"

class SysButton;
class SysDialog;
class SysFileSelect;
class SysGroupBox;

namespace Internal {

inline QString hostText(MainWindow *main, const char *key)
{
    return main->tr_(QLatin1String(key));
}

inline QString messageText(MainWindow *main, const Packages::PackageMessage &message)
{
    return formatPattern(main->tr_(message.key), message.args);
}

// A titled group in the dialogs' blue (not yet parented).
SysGroupBox *packageGroup(const QString &title);

// The kinds of files the two dialogs ask for. The dialogs of one kind start in the folder the
// last of them used, as long as the main window lives: a package built in one folder is looked
// for there by the installer too.
enum class FileKind { Template, Package, PackedFile, KindCount };

// The dialog filters of a kind: its entry from the host's language files (the pattern added
// where a text has none in parentheses), then all files; only all files for packed files.
QStringList fileFilters(MainWindow *main, FileKind kind);
// The folder the next dialog of `kind` starts in: the last one used, else `fallback`.
QString lastFolder(MainWindow *main, FileKind kind, const QString &fallback);
// Notes the folder of the chosen file `path` as the last one used for `kind`.
void rememberFolder(MainWindow *main, FileKind kind, const QString &path);

// The top row of both dialogs: a file selector for `kind` that takes the spare width, starting
// in the folder last used for it (else `startFolder`, or the home folder when that is empty),
// then two buttons, each in its colour.
struct SelectorRow {
    SysGroupBox *group;
    SysFileSelect *select;
    SysButton *first;
    SysButton *second;
};
SelectorRow selectorRow(MainWindow *main, FileKind kind, const QString &startFolder,
                        const QString &title, const QString &selectText,
                        const QString &firstText, const char *firstColour,
                        const QString &secondText, const char *secondColour);

// The dialog's one child: a vertical splitter with `top` fixed and `bottom` taking the rest.
void layOutPackageDialog(SysDialog *dialog, QWidget *top, QWidget *bottom);

} // namespace Internal
