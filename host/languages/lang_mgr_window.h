// The language manager: picks the current language of a context, creates a new language file
// and opens a language file in the desktop's program for it.
#pragma once

#include "host/languages/lang_store.h"
#include "widgetkit/sys_dialog.h"

#include <functional>

class LangCreateWindow;
class SysButton;
class SysComboBox;

class LangMgrWindow : public SysDialog
{
    Q_OBJECT
public:
    // Called with the language just made current for the context. The host's callback
    // switches its plug-ins and restarts; it returns only when that did not happen.
    using SwitchFn = std::function<bool(const LANG_INFO &lang)>;

    // Lists the languages of `context`; texts come from `langs` (not owned), context "Tessel".
    LangMgrWindow(LangStore &langs, const QString &context, QWidget *parent = nullptr);

    void setSwitchFunction(SwitchFn fn) { m_switch = std::move(fn); }
    const QString &context() const { return m_context; }

    SysComboBox *langCombo() const { return m_langCombo; }
    SysButton *switchButton() const { return m_switchButton; }
    SysComboBox *optionBox() const { return m_options; }
    // The language of the selected item; empty when the list is empty.
    LANG_INFO selectedLang() const;

    // Makes the selected language current and hands it to the switch function.
    void onSwitch();
    // Runs the option at `index`: 0 creates a language, 1 opens the selected one's file.
    void onOption(int index);
    // Creates the language, appends it and selects it. False after telling the user why not.
    bool createLang(const QString &name, const QString &dispName);

    // Runs the creation dialog that onOption(0) builds; exec() unless replaced (tests answer
    // the dialog here). The dialog is deleted after the run.
    using DialogRunner = std::function<int(LangCreateWindow *dialog)>;
    void setCreateDialogRunner(DialogRunner fn) { m_runCreate = std::move(fn); }

private:
    QString tr_(const QString &key);
    void addLang(const LANG_INFO &lang);

    LangStore &m_store;
    QString m_context;
    SysComboBox *m_langCombo = nullptr;
    SysButton *m_switchButton = nullptr;
    SysComboBox *m_options = nullptr;
    SwitchFn m_switch;
    DialogRunner m_runCreate;
};
