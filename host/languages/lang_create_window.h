// The small dialog that asks for a new language's file name and display name.
#pragma once

#include "widgetkit/sys_dialog.h"

class LangStore;
class SysButton;
class SysLineEdit;

class LangCreateWindow : public SysDialog
{
    Q_OBJECT
public:
    // Texts come from `langs` (not owned) in the host's context; `title` is the manager's.
    LangCreateWindow(LangStore &langs, const QString &title, QWidget *parent = nullptr);

    SysLineEdit *nameEdit() const { return m_name; }
    SysLineEdit *dispNameEdit() const { return m_dispName; }
    SysButton *saveButton() const { return m_save; }
    SysButton *cancelButton() const { return m_cancel; }

    // Checks both fields and submits them; the dialog is accepted when the handler connected
    // to submitSig answers true, and stays open otherwise.
    void onSave();

signals:
    // Trimmed name and display name. The one connected handler answers whether it created
    // the language.
    bool submitSig(const QString &name, const QString &dispName);

private:
    // False, after telling the user, when the field's trimmed text is too short or too long.
    bool checkLength(SysLineEdit *edit, const QString &label);
    QString tr_(const QString &key);

    LangStore &m_langs;
    SysLineEdit *m_name = nullptr;
    SysLineEdit *m_dispName = nullptr;
    SysButton *m_save = nullptr;
    SysButton *m_cancel = nullptr;
    QString m_nameLabel;
    QString m_dispNameLabel;
};

// Whether a language name can be used as a file name on every platform a language file may
// travel to: not empty, no path separator, no dot (the name ends where the first dot is), no
// control character and none of : * ? " < > |.
bool isSafeLangName(const QString &name);
// A display name holds no control character (it is stored in an XML attribute).
bool isSafeDisplayName(const QString &name);
