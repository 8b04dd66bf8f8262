// The language manager and its creation dialog, alone and through the main window.
#include "host/languages/lang_create_window.h"
#include "host/languages/lang_mgr_window.h"
#include "tests/host/deltamaker_fixture.h"

#include "widgetkit/sys_button.h"
#include "widgetkit/sys_combo_box.h"
#include "widgetkit/sys_line_edit.h"

#include <QApplication>
#include <QDomDocument>
#include <QTest>
#include <QTimer>

#include <map>

namespace {
// A language file whose texts are the given ones; nested elements follow the key components.
QString langBody(const QString &dispName, const std::map<QString, QString> &texts)
{
    QDomDocument doc;
    QDomElement root = doc.createElement(QStringLiteral("lang"));
    root.setAttribute(QStringLiteral("name"), dispName);
    doc.appendChild(root);
    for (const auto &entry : texts) {
        QDomElement at = root;
        for (const QString &part : entry.first.split(QLatin1Char('/'))) {
            QDomElement next = at.firstChildElement(part);
            if (next.isNull()) {
                next = doc.createElement(part);
                at.appendChild(next);
            }
            at = next;
        }
        at.setAttribute(QStringLiteral("name"), entry.second);
    }
    return doc.toString(1);
}

std::map<QString, QString> hostTexts(const QString &tag)
{
    std::map<QString, QString> t;
    for (const char *key : {"langMgr/langList", "langMgr/action/switchLang", "langMgr/action/openLang",
                            "langMgr/action/createLang", "langMgr/otherOption", "langMgr/action/save",
                            "langMgr/action/cancel", "langMgr/createLangSuccess", "langMgr/createLangFailed",
                            "langMgr/loadLangFailed", "langMgr/switchLang/success",
                            "langMgr/switchLang/failed", "main/menu/langManager",
                            "main/slashScreen/hereShowContent", "main/plugin/rightMenu/updateHistory"})
        t[QString::fromLatin1(key)] = QStringLiteral("[%1 %2]").arg(tag, QString::fromLatin1(key).section('/', -1));
    t["langMgr/name"] = tag + "-name";
    t["langMgr/dispName"] = tag + "-disp";
    t["langMgr/titleFmt"] = "%1 [" + tag + " languages]";
    t["langMgr/lengthShouldMoreThanFmt"] = "[more %s %d]";
    t["langMgr/lengthShouldLessThanFmt"] = "[less %s %d]";
    t["langMgr/nameNotSafeFmt"] = "[unsafe %s]";
    t["langMgr/dispNameNotSafeFmt"] = "[unsafe display %s]";
    t["langMgr/langExistsFmt"] = "[exists %s]";
    t["langMgr/switchLang/failedFmt"] = "[switch failed %s %s]";
    t["history/titleFmt"] = "[" + tag + " history of %1]";
    return t;
}

// Files of a folder with their bytes, to prove that nothing appeared or changed.
std::map<QString, QByteArray> snapshot(const QString &folder)
{
    std::map<QString, QByteArray> out;
    for (const QFileInfo &fi : QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        out[fi.fileName()] = fi.isFile() ? readBytes(fi.absoluteFilePath()) : QByteArray("<dir>");
    return out;
}
} // namespace

class LangMgrTest : public PluginFixture
{
protected:
    void SetUp() override
    {
        PluginFixture::SetUp();
        ASSERT_TRUE(QFile::remove(wd.file("lang/Tessel/test.lang")));
        ASSERT_TRUE(writeGbkXml(wd.file("lang/Tessel/zh.lang"), langBody(QString::fromUtf8("中文"), hostTexts("zh"))));
        ASSERT_TRUE(writeGbkXml(wd.file("lang/Tessel/en.lang"), langBody("English", hostTexts("en"))));
        ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/index.config"), "zh"));
    }

    // Answers the creation dialog with the two texts, pressing "save".
    static LangMgrWindow::DialogRunner answer(const QString &name, const QString &dispName, int *result)
    {
        return [=](LangCreateWindow *dialog) {
            dialog->nameEdit()->setText(name);
            dialog->dispNameEdit()->setText(dispName);
            QTest::mouseClick(dialog->saveButton(), Qt::LeftButton);
            *result = dialog->result();
            return dialog->result();
        };
    }

    LangStore store;
};

TEST_F(LangMgrTest, ListsTheContextsLanguagesWithTheCurrentOneSelected)
{
    ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/broken.lang"), "<not a language"));
    ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/index.config"), "en"));
    LangMgrWindow m(store, "Tessel");
    ASSERT_EQ(m.langCombo()->count(), 2); // the broken file is left out
    EXPECT_EQ(m.langCombo()->itemText(0), "English");
    EXPECT_EQ(m.langCombo()->itemText(1), QString::fromUtf8("中文"));
    EXPECT_EQ(m.langCombo()->currentIndex(), 0);
    const LANG_INFO en = m.langCombo()->itemData(0, 256).value<LANG_INFO>();
    EXPECT_TRUE(en.isCurrent);
    EXPECT_EQ(en.name, "en");
    EXPECT_EQ(en.path, wd.file("lang/Tessel/en.lang"));
    EXPECT_EQ(m.switchButton()->text(), "[en switchLang]");
    EXPECT_TRUE(m.switchButton()->isEnabled());
    EXPECT_EQ(m.optionBox()->itemTexts(), (QStringList{"[en createLang]", "[en openLang]"}));
}

TEST_F(LangMgrTest, MainWindowTitlesTheManagerAndItsButtonOpensIt)
{
    auto w = makeWindow();
    auto m = w->makeLangManager();
    EXPECT_EQ(m->windowTitle(), "Tessel V1.0.21 [zh languages]");
    EXPECT_EQ(m->context(), "Tessel");
    EXPECT_EQ(m->selectedLang().name, "zh");

    QString seen;
    QTimer::singleShot(0, [&seen] {
        if (auto *d = qobject_cast<LangMgrWindow *>(QApplication::activeModalWidget())) {
            seen = d->windowTitle();
            d->reject();
        }
    });
    QTest::mouseClick(w->languageButton(), Qt::LeftButton);
    EXPECT_EQ(seen, "Tessel V1.0.21 [zh languages]");
}

TEST_F(LangMgrTest, LengthChecksUseTheFieldLimits)
{
    LangCreateWindow d(store, "T");
    EXPECT_EQ(d.nameEdit()->minLength(), 2);
    EXPECT_EQ(d.nameEdit()->maxLength(), 32);
    EXPECT_EQ(d.dispNameEdit()->minLength(), 2);
    EXPECT_EQ(d.dispNameEdit()->maxLength(), 64);
    EXPECT_EQ(SysLineEdit().minLength(), 0);

    int submitted = 0;
    QObject::connect(&d, &LangCreateWindow::submitSig, [&](const QString &, const QString &) {
        ++submitted;
        return false;
    });
    d.nameEdit()->setText("a");
    d.dispNameEdit()->setText("Abc");
    d.onSave();
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Critical);
    EXPECT_EQ(messages()[0].title, "T");
    EXPECT_EQ(messages()[0].text, "[more zh-name 2]");

    d.nameEdit()->setText("ab");
    d.dispNameEdit()->setText("x");
    d.onSave();
    ASSERT_EQ(messages().size(), 2);
    EXPECT_EQ(messages()[1].text, "[more zh-disp 2]");
    EXPECT_EQ(submitted, 0);

    // Typing stops at the limit: 70 characters leave 64.
    d.dispNameEdit()->clear();
    QTest::keyClicks(d.dispNameEdit(), QString(70, QLatin1Char('d')));
    EXPECT_EQ(d.dispNameEdit()->text(), QString(64, QLatin1Char('d')));
    d.onSave();
    EXPECT_EQ(submitted, 1);
    EXPECT_EQ(d.result(), QDialog::Rejected); // the handler said no: the dialog stays

    // A label text with conversions of its own is shown as written, not fed to printf.
    d.nameEdit()->setText("a");
    ASSERT_TRUE(writeGbkXml(wd.file("lang/Tessel/zh.lang"), langBody("zh", {{"langMgr/lengthShouldMoreThanFmt", "%s %d %s %n %d"}, {"langMgr/name", "%s%n"}})));
    LangStore fresh;
    LangCreateWindow hostile(fresh, "T");
    hostile.nameEdit()->setText("a");
    hostile.onSave();
    EXPECT_EQ(messages().last().text, "%s%n 2 %s %n %d");
}

TEST_F(LangMgrTest, CreatedLanguageIsAppendedAndSelectedButNotCurrent)
{
    LangMgrWindow m(store, "Tessel");
    m.setWindowTitle("Manager");
    int result = -1;
    QString dialogTitle;
    m.setCreateDialogRunner([&](LangCreateWindow *d) {
        dialogTitle = d->windowTitle();
        return answer("  fr ", QString::fromUtf8(" Français "), &result)(d);
    });
    m.onOption(0);
    EXPECT_EQ(dialogTitle, "Manager");
    EXPECT_EQ(result, QDialog::Accepted);
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Information);
    EXPECT_EQ(messages()[0].title, "Manager");
    EXPECT_EQ(messages()[0].text, "[zh createLangSuccess]");

    ASSERT_EQ(m.langCombo()->count(), 3);
    EXPECT_EQ(m.langCombo()->currentIndex(), 2);
    EXPECT_EQ(m.langCombo()->currentText(), QString::fromUtf8("Français"));
    const LANG_INFO fr = m.selectedLang();
    EXPECT_EQ(fr.name, "fr");
    EXPECT_FALSE(fr.isCurrent);
    EXPECT_EQ(readBytes(wd.file("lang/Tessel/index.config")), QByteArray("zh"));
    LANG_INFO read;
    ASSERT_TRUE(readLangInfo(wd.file("lang/Tessel/fr.lang"), read));
    EXPECT_EQ(read.dispName, QString::fromUtf8("Français"));
}

TEST_F(LangMgrTest, UnsafeOrExistingNamesAreRefusedAndNothingIsWritten)
{
    LangMgrWindow m(store, "Tessel");
    m.setWindowTitle("Manager");
    const auto before = snapshot(wd.file("lang/Tessel"));
    const auto parentBefore = snapshot(wd.file("lang"));
    const struct {
        const char *name;
        const char *message;
    } cases[] = {
        {"  ", "[more zh-name 2]"},     // two blanks: nothing left after trimming
        {" a ", "[more zh-name 2]"},
        {"../x", "[unsafe zh-name]"},
        {"a/b", "[unsafe zh-name]"},
        {"a\\b", "[unsafe zh-name]"},
        {".hidden", "[unsafe zh-name]"},
        {"en.US", "[unsafe zh-name]"},
        {"a\tb", "[unsafe zh-name]"},
        {"a:b", "[unsafe zh-name]"},
        {"en", "[exists en]"},
        {"EN", "[exists EN]"},
    };
    for (const auto &c : cases) {
        messages().clear();
        int result = -1;
        m.setCreateDialogRunner(answer(QString::fromUtf8(c.name), "Display", &result));
        m.onOption(0);
        EXPECT_EQ(result, QDialog::Rejected) << c.name;
        ASSERT_EQ(messages().size(), 1) << c.name;
        EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Critical) << c.name;
        EXPECT_EQ(messages()[0].text, QString::fromUtf8(c.message)) << c.name;
        EXPECT_EQ(m.langCombo()->count(), 2) << c.name;
    }
    messages().clear();
    int result = -1;
    m.setCreateDialogRunner(answer("de", QStringLiteral("Deu\x01tsch"), &result));
    m.onOption(0);
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].text, "[unsafe display zh-disp]");

    EXPECT_EQ(snapshot(wd.file("lang/Tessel")), before);
    EXPECT_EQ(snapshot(wd.file("lang")), parentBefore);
    EXPECT_FALSE(QFileInfo::exists(wd.file("lang/x.lang")));

    // The store itself never overwrites a language either.
    QString path;
    EXPECT_FALSE(store.createLangFile("Tessel", "en", "Other", path));
    EXPECT_EQ(snapshot(wd.file("lang/Tessel")), before);
}

TEST_F(LangMgrTest, EmptyContextListsNothingAndSwitchingDoesNothing)
{
    int calls = 0;
    LangMgrWindow m(store, "Nothing");
    m.setSwitchFunction([&calls](const LANG_INFO &) { return ++calls > 0; });
    EXPECT_EQ(m.langCombo()->count(), 0);
    EXPECT_FALSE(m.switchButton()->isEnabled());
    m.onSwitch();
    m.onOption(1);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(messages().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(wd.file("lang/Nothing")));
    EXPECT_FALSE(QFileInfo::exists(wd.file("lang/index.config")));
}

TEST_F(LangMgrTest, SwitchReportsTheCallbacksAnswer)
{
    LangMgrWindow m(store, "Tessel");
    m.setWindowTitle("Manager");
    m.langCombo()->setCurrentIndex(0); // en
    m.setSwitchFunction([](const LANG_INFO &) { return false; });
    m.onSwitch();
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Critical);
    EXPECT_EQ(messages()[0].text, "[en failed]"); // the store now answers in English
    EXPECT_EQ(readBytes(wd.file("lang/Tessel/index.config")), QByteArray("en"));

    // An index that cannot be written: the callback is not reached.
    ASSERT_TRUE(QFile::remove(wd.file("lang/Tessel/index.config")));
    ASSERT_TRUE(QDir().mkpath(wd.file("lang/Tessel/index.config")));
    bool called = false;
    m.setSwitchFunction([&called](const LANG_INFO &) { return called = true; });
    m.onSwitch();
    EXPECT_FALSE(called);
    EXPECT_EQ(messages().last().kind, IDialogPresenter::Kind::Critical);
}

TEST_F(LangMgrTest, SwitchingToEnglishThroughTheWindowSwitchesPluginsAndRestarts)
{
    install("other/Other.so", "o/Other.so");
    install("third/Third.so", "t/Third.so");
    ASSERT_TRUE(writeGbkXml(wd.file("lang/Other/zh.lang"), "<lang name=\"zh\"/>"));
    ASSERT_TRUE(writeGbkXml(wd.file("lang/Other/en.lang"), "<lang name=\"English\"/>"));
    ASSERT_TRUE(writeBytes(wd.file("lang/Other/index.config"), "zh"));
    ASSERT_TRUE(writeBytes(wd.file("lang/Third/index.config"), "zh")); // has no English
    installDeltamaker(wd);
    ASSERT_EQ(readBytes(wd.file("lang/Deltamaker/index.config")), QByteArray("zh"));
    auto w = makeWindow({"Tessel", "-c", "Other"});
    auto m = w->makeLangManager();
    ASSERT_EQ(m->langCombo()->itemText(0), "English");
    m->langCombo()->setCurrentIndex(0);
    QTest::mouseClick(m->switchButton(), Qt::LeftButton);

    EXPECT_EQ(readBytes(wd.file("lang/Tessel/index.config")), QByteArray("en"));
    EXPECT_EQ(readBytes(wd.file("lang/Other/index.config")), QByteArray("en"));
    EXPECT_EQ(readBytes(wd.file("lang/Deltamaker/index.config")), QByteArray("en"));
    EXPECT_EQ(readBytes(wd.file("lang/Third/index.config")), QByteArray("zh"));
    ASSERT_EQ(relaunches.size(), 1u);
    EXPECT_EQ(relaunches[0], "-c Other -mutex 0");
    // The test's relaunch does not start anything, so this copy says so and carries on.
    ASSERT_EQ(messages().size(), 2);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Critical);
    EXPECT_EQ(messages()[0].text, "main/restartFailed");
    EXPECT_EQ(messages()[1].kind, IDialogPresenter::Kind::Information);
    EXPECT_EQ(messages()[1].text, "[en success]");

    // The language in use already: nothing is switched and nothing restarts.
    messages().clear();
    auto again = w->makeLangManager();
    for (int i = 0; i < again->langCombo()->count(); ++i)
        if (again->langCombo()->itemData(i, 256).value<LANG_INFO>().name == "en")
            again->langCombo()->setCurrentIndex(i);
    ASSERT_EQ(again->selectedLang().name, "en");
    again->onSwitch();
    EXPECT_EQ(relaunches.size(), 1u);
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(LangMgrTest, AStartedRestartEndsTheRunQuietlyAndABusyPluginIsAskedAbout)
{
    install("other/Other.so", "o/Other.so");
    auto w = makeWindow({"Tessel", "-c", "Other"});
    bool started = true;
    w->setRelaunch([&](const std::string &) { return started; });
    PluginUIBase *window = w->plugin("Other")->window();
    window->setBusy(true);

    // The user declines to wait: the index stays as it was, nothing restarts.
    const QByteArray before = readBytes(wd.file("lang/Tessel/index.config"));
    auto m = w->makeLangManager();
    m->langCombo()->setCurrentIndex(0); // en
    testPresenter().questionAnswer = false;
    m->onSwitch();
    testPresenter().questionAnswer = true;
    EXPECT_EQ(readBytes(wd.file("lang/Tessel/index.config")), before);
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Question);
    EXPECT_FALSE(w->restarting());

    // Once the plug-in is idle the switch goes through, the new copy starts, and this one
    // leaves its loops without another word.
    window->setBusy(false);
    messages().clear();
    m->onSwitch();
    EXPECT_EQ(readBytes(wd.file("lang/Tessel/index.config")), QByteArray("en"));
    EXPECT_TRUE(w->restarting());
    EXPECT_TRUE(messages().isEmpty());
    // The application was told to leave its loops; a turn of its own loop clears that for the
    // tests that follow.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}
