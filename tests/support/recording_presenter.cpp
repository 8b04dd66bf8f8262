#include "tests/support/recording_presenter.h"

// Texts may come from a plug-in's literals, whose data goes away when the plug-in is unloaded;
// what the recorder keeps must own its characters.
static QString own(const QString &s)
{
    return s.isNull() ? QString() : QString(s.constData(), s.size());
}

bool RecordingPresenter::message(Kind kind, const QString &title, const QString &text)
{
    messages.push_back({kind, own(title), own(text)});
    return kind == Kind::Question ? questionAnswer : true;
}

static QString nextAnswer(QStringList &answers)
{
    return answers.isEmpty() ? QString() : answers.takeFirst();
}

QString RecordingPresenter::openFileName(QWidget *, const QString &caption, const QString &dir,
                                         const QString &filter)
{
    dialogCaptions << own(caption);
    dialogFilters << own(filter);
    dialogDirs << own(dir);
    return nextAnswer(fileAnswers);
}

QString RecordingPresenter::saveFileName(QWidget *, const QString &caption, const QString &dir,
                                         const QString &filter, QString *chosen)
{
    dialogCaptions << own(caption);
    dialogFilters << own(filter);
    dialogDirs << own(dir);
    if (chosen)
        *chosen = selectedFilter.isEmpty() ? filter.section(QStringLiteral(";;"), 0, 0) : selectedFilter;
    return nextAnswer(fileAnswers);
}

QString RecordingPresenter::existingDirectory(QWidget *, const QString &caption, const QString &dir)
{
    dialogCaptions << own(caption);
    dialogFilters << QString();
    dialogDirs << own(dir);
    return nextAnswer(fileAnswers);
}

QStringList RecordingPresenter::openFileNames(QWidget *, const QString &caption, const QString &dir,
                                             const QString &filter)
{
    dialogCaptions << own(caption);
    dialogFilters << own(filter);
    dialogDirs << own(dir);
    return fileListAnswers.isEmpty() ? QStringList() : fileListAnswers.takeFirst();
}

void RecordingPresenter::clear()
{
    messages.clear();
    dialogCaptions.clear();
    dialogFilters.clear();
    dialogDirs.clear();
    selectedFilter.clear();
    fileAnswers.clear();
    fileListAnswers.clear();
    questionAnswer = true;
}

RecordingPresenter &testPresenter()
{
    static RecordingPresenter presenter;
    return presenter;
}
