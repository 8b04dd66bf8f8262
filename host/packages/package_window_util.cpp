#include "host/packages/package_window_util_p.h"

#include "widgetkit/sys_button.h"
#include "widgetkit/sys_dialog.h"
#include "widgetkit/sys_file_select.h"
#include "widgetkit/sys_group_box.h"
#include "widgetkit/sys_layouts.h"
#include "widgetkit/sys_splitter.h"

namespace Internal {

SysGroupBox *packageGroup(const QString &title)
{
    auto *group = new SysGroupBox(nullptr, title);
    group->setBorderColor(QStringLiteral("#409eff"));
    return group;
}

SelectorRow selectorRow(const QString &title, const QString &selectText, const QString &filter,
                        const QString &firstText, const char *firstColour,
                        const QString &secondText, const char *secondColour)
{
    SelectorRow row;
    row.group = packageGroup(title);
    auto *layout = new SysHLayout(row.group);
    row.select = new SysFileSelect(row.group, selectText, {filter});
    row.select->setThemeColor(QStringLiteral("#FFA500"));
    row.select->setCaption(selectText);
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
