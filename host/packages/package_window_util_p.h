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

// The top row of both dialogs: a file selector for `filter` that takes the spare width, then two
// buttons, each in its colour.
struct SelectorRow {
    SysGroupBox *group;
    SysFileSelect *select;
    SysButton *first;
    SysButton *second;
};
SelectorRow selectorRow(const QString &title, const QString &selectText, const QString &filter,
                        const QString &firstText, const char *firstColour,
                        const QString &secondText, const char *secondColour);

// The dialog's one child: a vertical splitter with `top` fixed and `bottom` taking the rest.
void layOutPackageDialog(SysDialog *dialog, QWidget *top, QWidget *bottom);

} // namespace Internal
