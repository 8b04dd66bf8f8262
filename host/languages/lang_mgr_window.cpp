#include "host/languages/lang_mgr_window.h"

#include "common/dialogs.h"
#include "common/platform/platform.h"
#include "host/languages/lang_create_window.h"
#include "widgetkit/sys_button.h"
#include "widgetkit/sys_combo_box.h"
#include "widgetkit/sys_label.h"
#include "widgetkit/sys_layouts.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>

#include <memory>

namespace {
const QString kContext = QStringLiteral("Tessel");
const QString kTheme = QStringLiteral("#409eff");
constexpr int kLangRole = 256;
} // namespace

LangMgrWindow::LangMgrWindow(LangStore &langs, const QString &context, QWidget *parent)
    : SysDialog(parent), m_store(langs), m_context(context),
      m_runCreate([](LangCreateWindow *dialog) { return dialog->exec(); })
{
    auto *layout = new SysVLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(14);
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(12);

    m_langCombo = new SysComboBox(this);
    m_langCombo->setThemeColor(kTheme);
    m_langCombo->setMinWidth(12);
    m_switchButton = new SysButton(this, tr_(QStringLiteral("langMgr/action/switchLang")));
    m_switchButton->setThemeColor(kTheme);
    grid->addWidget(new SysLabel(this, tr_(QStringLiteral("langMgr/langList")) + QLatin1Char(':')),
                    0, 0, Qt::AlignRight);
    grid->addWidget(m_langCombo, 0, 1);
    grid->addWidget(m_switchButton, 0, 2);

    m_options = new SysComboBox(this, {tr_(QStringLiteral("langMgr/action/createLang")),
                                       tr_(QStringLiteral("langMgr/action/openLang"))});
    m_options->setThemeColor(kTheme);
    m_options->setMinWidth(12);
    grid->addWidget(new SysLabel(this, tr_(QStringLiteral("langMgr/otherOption")) + QLatin1Char(':')),
                    1, 0, Qt::AlignRight);
    grid->addWidget(m_options, 1, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);
    layout->addStretch(1);

    QList<LANG_INFO> list;
    m_store.loadLangList(m_context, list);
    for (const LANG_INFO &lang : list)
        addLang(lang);
    m_switchButton->setEnabled(m_langCombo->count() > 0);

    connect(m_switchButton, &QPushButton::clicked, this, [this] { onSwitch(); });
    // "activated" also fires when the entry shown is picked again.
    connect(m_options, QOverload<int>::of(&QComboBox::activated), this,
            [this](int index) { onOption(index); });
}

QString LangMgrWindow::tr_(const QString &key)
{
    return m_store.text(kContext, key);
}

void LangMgrWindow::addLang(const LANG_INFO &lang)
{
    m_langCombo->addItem(lang.dispName, QVariant::fromValue(lang));
    if (lang.isCurrent)
        m_langCombo->setCurrentIndex(m_langCombo->count() - 1);
}

LANG_INFO LangMgrWindow::selectedLang() const
{
    const int index = m_langCombo->currentIndex();
    if (index < 0)
        return LANG_INFO();
    return m_langCombo->itemData(index, kLangRole).value<LANG_INFO>();
}

void LangMgrWindow::onSwitch()
{
    // With nothing listed there is nothing to switch to; the button is disabled then too.
    if (m_langCombo->currentIndex() < 0)
        return;
    const LANG_INFO lang = selectedLang();
    const QString context = QFileInfo(lang.path).absoluteDir().dirName();
    // The language in use already: nothing to switch, nothing to restart.
    QString current;
    if (m_store.currentLang(context, current) && !current.isEmpty()
        && current.compare(lang.name, Qt::CaseInsensitive) == 0)
        return;
    if (m_guard && !m_guard())
        return;
    if (!m_store.switchLang(context, lang.name, true)) {
        errorBox(windowTitle(), tr_(QStringLiteral("langMgr/switchLang/failed")));
        return;
    }
    const int result = m_switch ? m_switch(lang) : SwitchApplied;
    if (result == SwitchRestarting)
        return;
    if (result != SwitchFailed)
        infoBox(windowTitle(), tr_(QStringLiteral("langMgr/switchLang/success")));
    else
        errorBox(windowTitle(), tr_(QStringLiteral("langMgr/switchLang/failed")));
}

void LangMgrWindow::onOption(int index)
{
    if (index == 0) {
        auto dialog = std::make_unique<LangCreateWindow>(m_store, windowTitle(), this);
        connect(dialog.get(), &LangCreateWindow::submitSig, this,
                [this](const QString &name, const QString &dispName) {
                    return createLang(name, dispName);
                });
        m_runCreate(dialog.get());
    } else if (index == 1 && m_langCombo->currentIndex() >= 0) {
        const QString path = selectedLang().path;
        if (!Platform::shellOpen(path))
            errorBox(windowTitle(), tr_(QStringLiteral("main/openFileFailedFmt")),
                     {QDir::toNativeSeparators(path)});
    }
}

bool LangMgrWindow::createLang(const QString &name, const QString &dispName)
{
    if (langExists(m_context, name)) {
        errorBox(windowTitle(), tr_(QStringLiteral("langMgr/langExistsFmt")), {name});
        return false;
    }
    QString path;
    if (!m_store.createLangFile(m_context, name, dispName, path)) {
        errorBox(windowTitle(), tr_(QStringLiteral("langMgr/createLangFailed")));
        return false;
    }
    LANG_INFO lang;
    if (!readLangInfo(path, lang)) {
        errorBox(windowTitle(), tr_(QStringLiteral("langMgr/loadLangFailed")));
        return false;
    }
    // Listed and selected, but not current until it is switched to.
    lang.isCurrent = false;
    addLang(lang);
    m_langCombo->setCurrentIndex(m_langCombo->count() - 1);
    m_switchButton->setEnabled(true);
    infoBox(windowTitle(), tr_(QStringLiteral("langMgr/createLangSuccess")));
    return true;
}
