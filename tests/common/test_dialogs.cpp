#include "common/dialogs.h"
#include "tests/support/recording_presenter.h"

#include <gtest/gtest.h>

TEST(MessageBoxes, FormatAndReachThePresenter)
{
    RecordingPresenter rec;
    ScopedPresenter scope(&rec);
    errorBox("Title", "%s has %d items", "list", 3);
    infoBox("Info", "%s", "done");
    rec.questionAnswer = false;
    EXPECT_FALSE(questionBox("Q", "sure?"));
    rec.questionAnswer = true;
    EXPECT_TRUE(questionBox("Q", "%s", "中文"));
    ASSERT_EQ(rec.messages.size(), 4);
    EXPECT_EQ(rec.messages[0].kind, IDialogPresenter::Kind::Critical);
    EXPECT_EQ(rec.messages[0].title, "Title");
    EXPECT_EQ(rec.messages[0].text, "list has 3 items");
    EXPECT_EQ(rec.messages[1].kind, IDialogPresenter::Kind::Information);
    EXPECT_EQ(rec.messages[2].kind, IDialogPresenter::Kind::Question);
    EXPECT_EQ(rec.messages[3].text, QString::fromUtf8("中文"));
}

TEST(MessageBoxes, ScopedPresenterRestoresThePrevious)
{
    IDialogPresenter *before = &dialogPresenter();
    {
        RecordingPresenter rec;
        ScopedPresenter scope(&rec);
        EXPECT_EQ(&dialogPresenter(), &rec);
    }
    EXPECT_EQ(&dialogPresenter(), before);
}

TEST(FileDialogs, AnswersComeFromThePresenter)
{
    RecordingPresenter rec;
    ScopedPresenter scope(&rec);
    rec.fileAnswers << "/tmp/a.csv";
    EXPECT_EQ(saveFileDialog(nullptr, "Save", "", "*.csv"), "/tmp/a.csv");
    EXPECT_EQ(openFileDialog(nullptr, "Open", "", "*.bin"), ""); // cancelled
    EXPECT_EQ(rec.dialogFilters, QStringList({"*.csv", "*.bin"}));
}

TEST(FileDialogs, SavedNamesGetTheChosenFiltersExtension)
{
    RecordingPresenter rec;
    ScopedPresenter scope(&rec);
    const QString filter = QString::fromUtf8("升级包 (*.pkg *.bin);;CSV (*.csv);;所有文件 (*)");
    rec.fileAnswers << "/tmp/out" << "/tmp/out.v2" << "/tmp/log" << "/tmp/any" << "/tmp/dir.d/x";
    EXPECT_EQ(saveFileDialog(nullptr, "Save", "/tmp", filter), "/tmp/out.pkg");
    EXPECT_EQ(saveFileDialog(nullptr, "Save", "/tmp", filter), "/tmp/out.v2"); // has its own
    rec.selectedFilter = "CSV (*.csv)";
    EXPECT_EQ(saveFileDialog(nullptr, "Save", "/tmp", filter), "/tmp/log.csv");
    rec.selectedFilter = QString::fromUtf8("所有文件 (*)");
    EXPECT_EQ(saveFileDialog(nullptr, "Save", "/tmp", filter), "/tmp/any");
    rec.selectedFilter.clear();
    EXPECT_EQ(saveFileDialog(nullptr, "Save", "/tmp", "*.tpl"), "/tmp/dir.d/x.tpl");
    EXPECT_EQ(saveFileDialog(nullptr, "Save", "/tmp", "*.tpl"), ""); // cancelled: nothing added
    EXPECT_EQ(rec.dialogDirs.first(), "/tmp");

    EXPECT_EQ(withFilterExtension("a", "*.html"), "a.html");
    EXPECT_EQ(withFilterExtension("a", "Images (*.bin *.img)"), "a.bin");
    EXPECT_EQ(withFilterExtension("a", "*"), "a");
    EXPECT_EQ(withFilterExtension("a", "*.*"), "a");
    EXPECT_EQ(withFilterExtension("a", "Odd (*.b?n)"), "a");
    EXPECT_EQ(withFilterExtension("a", ""), "a");
}

TEST(FileDialogs, SeveralFilesComeFromThePresenterOrFallBackToOne)
{
    RecordingPresenter rec;
    ScopedPresenter scope(&rec);
    rec.fileListAnswers << QStringList{"/w/a", "/w/b"};
    EXPECT_EQ(openFilesDialog(nullptr, "Add", "/w", ""), QStringList({"/w/a", "/w/b"}));
    EXPECT_EQ(openFilesDialog(nullptr, "Add", "/w", ""), QStringList()); // cancelled
    EXPECT_EQ(rec.dialogCaptions, QStringList({"Add", "Add"}));

    // A presenter that knows only the one-file dialog.
    struct OneFile : RecordingPresenter {
        QStringList openFileNames(QWidget *p, const QString &c, const QString &d,
                                  const QString &f) override
        {
            return IDialogPresenter::openFileNames(p, c, d, f);
        }
    } one;
    ScopedPresenter inner(&one);
    one.fileAnswers << "/w/only";
    EXPECT_EQ(openFilesDialog(nullptr, "Add", "/w", "*.so"), QStringList{"/w/only"});
    EXPECT_EQ(openFilesDialog(nullptr, "Add", "/w", "*.so"), QStringList());
}

TEST(MessageBoxes, PatternsFromLanguageFilesAreFilledSafely)
{
    RecordingPresenter rec;
    ScopedPresenter scope(&rec);
    // Conversions without an argument, of the wrong kind, or that would write (%n) stay as text.
    errorBox("T", QStringLiteral("%s has %d of %d %n %s"), {QStringLiteral("a%s"), 2});
    infoBox("T", QStringLiteral("%d%%"), {QStringLiteral("not a number")});
    EXPECT_TRUE(questionBox("T", QStringLiteral("%1 %s")));
    ASSERT_EQ(rec.messages.size(), 3);
    EXPECT_EQ(rec.messages[0].kind, IDialogPresenter::Kind::Critical);
    EXPECT_EQ(rec.messages[0].text, "a%s has 2 of %d %n %s");
    EXPECT_EQ(rec.messages[1].kind, IDialogPresenter::Kind::Information);
    EXPECT_EQ(rec.messages[1].text, "%d%");
    EXPECT_EQ(rec.messages[2].kind, IDialogPresenter::Kind::Question);
    EXPECT_EQ(rec.messages[2].text, "%1 %s");
}
