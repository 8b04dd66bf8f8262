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
    // What the switch function answers: false (SwitchFailed) after a failure it reported, true
    // (SwitchApplied) when the host carries on in the new language, SwitchRestarting when a
    // new copy of the host has started and this one is ending (the manager says nothing more).
    enum SwitchResult { SwitchFailed = 0, SwitchApplied = 1, SwitchRestarting = 2 };
    // Called with the language just made current for the context. The host's callback
    // switches its plug-ins and restarts.
    using SwitchFn = std::function<int(const LANG_INFO &lang)>;
    // Called before anything is switched; false leaves everything as it is (the host asks
    // here while a plug-in is busy).
    using GuardFn = std::function<bool()>;

    // Lists the languages of `context`; texts come from `langs` (not owned), context "Tessel".
    LangMgrWindow(LangStore &langs, const QString &context, QWidget *parent = nullptr);

    void setSwitchFunction(SwitchFn fn) { m_switch = std::move(fn); }
    void setSwitchGuard(GuardFn fn) { m_guard = std::move(fn); }
    const QString &context() const { return m_context; }

    SysComboBox *langCombo() const { return m_langCombo; }
    SysButton *switchButton() const { return m_switchButton; }
    SysComboBox *optionBox() const { return m_options; }
    // The language of the selected item; empty when the list is empty.
    LANG_INFO selectedLang() const;

    // Makes the selected language current and hands it to the switch function. The language
    // already current is left alone.
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
    GuardFn m_guard;
    DialogRunner m_runCreate;
};
