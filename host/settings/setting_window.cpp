#include "host/settings/setting_window.h"

#include "common/dialogs.h"
#include "host/contract/i_test_tools.h"
#include "host/settings/setting_config_tree.h"
#include "host/settings/test_node_attr_list.h"
#include "widgetkit/sys_button.h"
#include "widgetkit/sys_group_box.h"
#include "widgetkit/sys_label.h"
#include "widgetkit/sys_layouts.h"
#include "widgetkit/sys_menu.h"
#include "widgetkit/sys_splitter.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMainWindow>

namespace {
const int kTreeRowsShown = 6;
} // namespace

SettingWindow::SettingWindow(ITestTools *plugin, TextFn lookup, const QString &langCode, QWidget *parent)
    : SysDialog(parent), m_plugin(plugin), m_text(std::move(lookup)), m_langCode(langCode),
      m_path(plugin ? plugin->configFilePath() : QString())
{
    setBackgroundColor(QStringLiteral("#409eff"));
    setPadding(0);
    auto *layout = new SysVLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_splitter = new SysSplitter(this);
    m_splitter->setHorizontal(false);
    layout->addWidget(m_splitter);

    // Pane 0: the tree over the attributes of the selected node.
    auto *treeBox = new SysGroupBox(m_splitter);
    treeBox->setTitleBackgroundColor(QStringLiteral("#FFF"));
    auto *treeLayout = new SysVLayout(treeBox);
    m_tree = new SettingConfigTree(m_text, m_langCode, treeBox);
    m_tree->setSelectedBackgroundColor(QStringLiteral("#409eff"));
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_tree->setDragEnabled(true);
    m_attrs = new TestNodeAttrList(m_text, m_langCode, treeBox);
    m_attrs->hide();
    m_empty = new SysLabel(treeBox, text("setting/emptyContent"));
    m_empty->setFontSize(20);
    m_empty->setFontWeight(1);
    m_empty->setBackgroundColor(QStringLiteral("#FFF"));
    m_empty->setTextColor(QStringLiteral("#000"));
    m_empty->setAlignment(Qt::AlignCenter);
    treeLayout->addWidget(m_tree, 1);
    treeLayout->addWidget(m_attrs);
    treeLayout->addWidget(m_empty);
    m_splitter->addWidget(treeBox);

    // Pane 1: Save and Cancel, right-aligned.
    auto *buttonBox = new SysGroupBox(m_splitter);
    buttonBox->setBorderRadius(0);
    buttonBox->setBorderWidth(0);
    buttonBox->setPadding(0.25);
    auto *buttons = new SysHLayout(buttonBox);
    m_save = new SysButton(buttonBox, text("setting/action/save"));
    m_save->setThemeColor(QStringLiteral("#FF0000"));
    m_cancel = new SysButton(buttonBox, text("setting/action/cancel"));
    m_cancel->setThemeColor(QStringLiteral("#A9A9A9"));
    // Return in an attribute row must not save and close the dialog.
    m_save->setAutoDefault(false);
    m_cancel->setAutoDefault(false);
    buttons->addStretch(1);
    buttons->addWidget(m_save);
    buttons->addWidget(m_cancel);
    m_splitter->addWidget(buttonBox);
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 0);
    m_splitter->setCollapsible(0, false);
    m_splitter->setCollapsible(1, false);

    setWindowTitle(text("setting/titleFmt").replace(QLatin1String("%1"), plugin ? plugin->pluginName() : QString()));
    QWidget *host = plugin && plugin->mainWindow() ? plugin->mainWindow() : parent;
    resizeRatio(0.75, host);
    // The attribute rows take a fixed height; the tree keeps a few rows in view beside them,
    // so on a small screen the dialog grows rather than squeezing the tree to a line.
    m_tree->ensurePolished();
    m_tree->setMinimumHeight(kTreeRowsShown * qMax(m_tree->sizeHintForRow(0), m_tree->fontMetrics().height()));
    resize(size().expandedTo(minimumSizeHint()));

    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current) { onCurrentItemChanged(current); });
    connect(m_tree, &QWidget::customContextMenuRequested, this, &SettingWindow::onContextMenu);
    connect(m_tree, &SysTree::keyDown, m_tree, &SettingConfigTree::handleKey);
    connect(m_tree, &SettingConfigTree::settingKindChanged, this,
            [this] { onCurrentItemChanged(m_tree->currentItem()); });
    connect(m_attrs, &TestNodeAttrList::nodeDataChanged, this, &SettingWindow::onNodeDataChanged);
    connect(m_save, &QPushButton::clicked, this, &SettingWindow::save);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    m_loaded = m_tree->loadFile(m_path) && m_tree->toSettingTree(m_saved);
    if (!m_loaded) {
        showErrorText(windowTitle(), text("setting/loadFailed"));
        reject();
    }
}

QString SettingWindow::text(const char *key) const
{
    return m_text ? m_text(QLatin1String(key)) : QString();
}

int SettingWindow::exec()
{
    if (!m_loaded)
        return QDialog::Rejected;
    return SysDialog::exec();
}

bool SettingWindow::save()
{
    if (!m_tree->saveFile(m_path)) {
        showErrorText(windowTitle(), text("setting/saveFailed"));
        return false;
    }
    m_tree->toSettingTree(m_saved);
    accept();
    return true;
}

bool SettingWindow::hasUnsavedChanges() const
{
    SettingTree now;
    return !m_tree->toSettingTree(now) || now != m_saved;
}

void SettingWindow::reject()
{
    if (m_loaded && hasUnsavedChanges() && !askQuestionText(windowTitle(), text("setting/discardChanges")))
        return;
    SysDialog::reject();
}

void SettingWindow::onCurrentItemChanged(QTreeWidgetItem *current)
{
    if (!current) {
        m_attrs->hide();
        m_empty->show();
        return;
    }
    m_attrs->showRecord(SettingConfigTree::itemData(current), m_tree->settingKind());
    m_empty->hide();
    m_attrs->show();
}

void SettingWindow::onNodeDataChanged(const TEST_NODE_DATA &record)
{
    const QString problem = validateNodeData(record, m_text);
    if (!problem.isEmpty()) {
        showErrorText(text("setting/save"), problem);
        return;
    }
    QTreeWidgetItem *item = m_tree->currentItem();
    if (!item || (record.nodeType != NodeFolder && record.nodeType != NodeItem))
        return;
    item->setText(0, record.name.display(m_langCode));
    SettingConfigTree::setItemData(item, record);
}

void SettingWindow::onContextMenu(const QPoint &pos)
{
    if (QTreeWidgetItem *item = m_tree->itemAt(pos))
        m_tree->createContextMenu(item)->popup(QCursor::pos());
}
