#include "tests/support/recording_presenter.h"

bool RecordingPresenter::message(Kind kind, const QString &title, const QString &text)
{
    messages.push_back({kind, title, text});
    return kind == Kind::Question ? questionAnswer : true;
}

static QString nextAnswer(QStringList &answers)
{
    return answers.isEmpty() ? QString() : answers.takeFirst();
}

QString RecordingPresenter::openFileName(QWidget *, const QString &caption, const QString &,
                                         const QString &filter)
{
    dialogCaptions << caption;
    dialogFilters << filter;
    return nextAnswer(fileAnswers);
}

QString RecordingPresenter::saveFileName(QWidget *, const QString &caption, const QString &,
                                         const QString &filter)
{
    dialogCaptions << caption;
    dialogFilters << filter;
    return nextAnswer(fileAnswers);
}

QString RecordingPresenter::existingDirectory(QWidget *, const QString &caption, const QString &)
{
    dialogCaptions << caption;
    dialogFilters << QString();
    return nextAnswer(fileAnswers);
}

void RecordingPresenter::clear()
{
    messages.clear();
    dialogCaptions.clear();
    dialogFilters.clear();
    fileAnswers.clear();
    questionAnswer = true;
}

RecordingPresenter &testPresenter()
{
    static RecordingPresenter presenter;
    return presenter;
}
