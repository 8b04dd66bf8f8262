// The real Deltamaker plug-in building while the host is asked to uninstall it, to close or to
// switch the language: the user is asked, the build ends as it would have, its package is whole
// and nothing of it is left beside the output.
#include "tests/deltamaker/window/host_session.h"
#include "tests/support/recording_presenter.h"

#include "host/languages/lang_mgr_window.h"
#include "widgetkit/sys_combo_box.h"

#include <QPushButton>

namespace {

using WindowTest::HostSession;

// Everything beside the package that a build writes while it runs (temporary and lock files).
QStringList leftovers(const QString &folder)
{
    QStringList found;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (name.endsWith(".tmp") || name.contains(".tmp.") || name.endsWith(".lock"))
            found << name;
    return found;
}

class BusyBuild : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testPresenter().clear();
        ASSERT_TRUE(s.start());
        s.fillDeltaRows();
        // Pressed, not awaited: the build runs on its thread while the host acts.
        auto *button = s.window->findChild<QPushButton *>(QStringLiteral("diffButton"));
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(s.window->isBusy());
    }
    void TearDown() override { testPresenter().questionAnswer = true; }

    QString package() const { return s.wd.file("klm4410_delta.pkg"); }
    bool buildSucceeded() const
    {
        const QStringList texts = s.logTexts();
        return !texts.isEmpty() && texts.last().endsWith(QString::fromUtf8("生成成功"));
    }

    HostSession s;
};

TEST_F(BusyBuild, UninstallAsksAndOnNoTheBuildGoesOn)
{
    testPresenter().questionAnswer = false;
    EXPECT_FALSE(s.host->unloadPlugin("Deltamaker", true));
    ASSERT_EQ(testPresenter().messages.size(), 1);
    EXPECT_EQ(testPresenter().messages[0].kind, IDialogPresenter::Kind::Question);
    ASSERT_NE(s.host->plugin("Deltamaker"), nullptr);
    QElapsedTimer t;
    t.start();
    while (s.window->isBusy() && t.elapsed() < 600000)
        QTest::qWait(20);
    EXPECT_TRUE(buildSucceeded()) << s.logTexts().join('\n').toStdString();
    EXPECT_TRUE(QFileInfo(package()).size() > 0);
    EXPECT_EQ(leftovers(s.wd.path()), QStringList());
}

TEST_F(BusyBuild, UninstallOnYesWaitsForTheBuildThenRemovesThePlugin)
{
    EXPECT_TRUE(s.host->unloadPlugin("Deltamaker", true));
    EXPECT_EQ(s.host->plugin("Deltamaker"), nullptr);
    EXPECT_TRUE(QFileInfo(package()).size() > 0);
    EXPECT_EQ(leftovers(s.wd.path()), QStringList());
    EXPECT_FALSE(QFileInfo::exists(s.wd.file("plugins/Deltamaker")));
}

TEST_F(BusyBuild, CloseOnYesWaitsForTheBuildToEnd)
{
    PluginUIBase *window = s.window;
    EXPECT_TRUE(s.host->close());
    ASSERT_EQ(testPresenter().messages.size(), 1);
    EXPECT_FALSE(window->isBusy());
    EXPECT_TRUE(buildSucceeded()) << s.logTexts().join('\n').toStdString();
    EXPECT_EQ(leftovers(s.wd.path()), QStringList());
}

TEST_F(BusyBuild, LanguageSwitchWaitsForTheBuildBeforeItRestarts)
{
    auto manager = s.host->makeLangManager();
    for (int i = 0; i < manager->langCombo()->count(); ++i)
        if (manager->langCombo()->itemData(i, 256).value<LANG_INFO>().name == "en")
            manager->langCombo()->setCurrentIndex(i);
    manager->onSwitch();
    EXPECT_FALSE(s.window->isBusy());
    EXPECT_TRUE(buildSucceeded()) << s.logTexts().join('\n').toStdString();
    EXPECT_EQ(readBytes(s.wd.file("lang/Tessel/index.config")), QByteArray("en"));
    EXPECT_EQ(leftovers(s.wd.path()), QStringList());
    // The first message asked; the test's relaunch starts nothing, which is reported after.
    ASSERT_GE(testPresenter().messages.size(), 1);
    EXPECT_EQ(testPresenter().messages[0].kind, IDialogPresenter::Kind::Question);
}

} // namespace
