// What the two package dialogs share: texts of the host, group boxes and message formatting.
#pragma once

#include "host/main_window.h"
#include "host/packages/package_format.h"

#include "common/text_format.h"
#include "widgetkit/sys_group_box.h"

namespace Internal {

inline QString hostText(MainWindow *main, const char *key)
{
    return main->tr_(QLatin1String(key));
}

inline QString messageText(MainWindow *main, const Packages::PackageMessage &message)
{
    return formatPattern(main->tr_(message.key), message.args);
}

// A titled group in the dialogs' blue.
inline SysGroupBox *packageGroup(const QString &title)
{
    auto *group = new SysGroupBox(nullptr, title);
    group->setBorderColor(QStringLiteral("#409eff"));
    return group;
}

} // namespace Internal
