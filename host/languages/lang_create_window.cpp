#include "host/languages/lang_create_window.h"

#include "common/dialogs.h"
#include "host/languages/lang_store.h"
#include "widgetkit/sys_button.h"
#include "widgetkit/sys_label.h"
#include "widgetkit/sys_layouts.h"
#include "widgetkit/sys_line_edit.h"

#include <QGridLayout>

#include <algorithm>

namespace {
const QString kContext = QStringLiteral("Tessel");
}

namespace {
bool isControl(QChar c)
{
    return c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
}
} // namespace

bool isSafeLangName(const QString &name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (isControl(c) || c == QLatin1Char('.') || QStringLiteral("/\\:*?\"<>|").contains(c))
            return false;
    }
    return true;
}

bool isSafeDisplayName(const QString &name)
{
    return std::none_of(name.begin(), name.end(), isControl);
}

LangCreateWindow::LangCreateWindow(LangStore &langs, const QString &title, QWidget *parent)
    : SysDialog(parent), m_langs(langs)
{
    setWindowTitle(title);
    m_nameLabel = tr_(QStringLiteral("langMgr/name"));
    m_dispNameLabel = tr_(QStringLiteral("langMgr/dispName"));

    auto *layout = new SysVLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(14);
    auto *grid = new QGridLayout;
    m_name = new SysLineEdit(this);
    m_name->setThemeColor(QStringLiteral("#409eff"));
    m_name->setMinLength(2);
    m_name->setMaxLength(32);
    m_dispName = new SysLineEdit(this);
    m_dispName->setThemeColor(QStringLiteral("#409eff"));
    m_dispName->setMinLength(2);
    m_dispName->setMaxLength(64);
    // The line edits have a clear border only when focused; a light one shows where to type.
    for (SysLineEdit *edit : {m_name, m_dispName}) {
        edit->setBorderWidth(1);
        edit->setStyleSheet(edit->styleSheet()
                            + QStringLiteral("\tQLineEdit{\t\tborder-color: #ddd;\t}"
                                             "\tQLineEdit:focus{\t\tborder-color: #409eff;\t}"));
        edit->setMinWidth(16);
    }
    grid->addWidget(new SysLabel(this, m_nameLabel + QLatin1Char(':')), 0, 0, Qt::AlignRight);
    grid->addWidget(m_name, 0, 1);
    grid->addWidget(new SysLabel(this, m_dispNameLabel + QLatin1Char(':')), 1, 0, Qt::AlignRight);
    grid->addWidget(m_dispName, 1, 1);
    layout->addLayout(grid);

    auto *buttons = new SysHLayout;
    buttons->addStretch(1);
    m_save = new SysButton(this, tr_(QStringLiteral("langMgr/action/save")));
    m_save->setThemeColor(QStringLiteral("#409eff"));
    m_save->setDefault(true);
    m_cancel = new SysButton(this, tr_(QStringLiteral("langMgr/action/cancel")));
    m_cancel->setThemeColor(QStringLiteral("#909399"));
    buttons->addWidget(m_save);
    buttons->addWidget(m_cancel);
    layout->addLayout(buttons);

    connect(m_save, &QPushButton::clicked, this, [this] { onSave(); });
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString LangCreateWindow::tr_(const QString &key)
{
    return m_langs.text(kContext, key);
}

bool LangCreateWindow::checkLength(SysLineEdit *edit, const QString &label)
{
    // Blanks around a name are dropped before it is used, so they do not count.
    const int length = edit->text().trimmed().size();
    if (length < edit->minLength()) {
        errorBox(windowTitle(), tr_(QStringLiteral("langMgr/lengthShouldMoreThanFmt")),
                 {label, edit->minLength()});
        return false;
    }
    if (length > edit->maxLength()) {
        errorBox(windowTitle(), tr_(QStringLiteral("langMgr/lengthShouldLessThanFmt")),
                 {label, edit->maxLength()});
        return false;
    }
    return true;
}

void LangCreateWindow::onSave()
{
    if (!checkLength(m_name, m_nameLabel) || !checkLength(m_dispName, m_dispNameLabel))
        return;
    const QString name = m_name->text().trimmed();
    if (!isSafeLangName(name)) {
        errorBox(windowTitle(), tr_(QStringLiteral("langMgr/nameNotSafeFmt")), {m_nameLabel});
        return;
    }
    const QString dispName = m_dispName->text().trimmed();
    if (!isSafeDisplayName(dispName)) {
        errorBox(windowTitle(), tr_(QStringLiteral("langMgr/dispNameNotSafeFmt")),
                 {m_dispNameLabel});
        return;
    }
    if (emit submitSig(name, dispName))
        accept();
}
