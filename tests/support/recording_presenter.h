// Answers message boxes and file dialogs in tests, and records what was shown.
#pragma once

#include "common/dialogs.h"

#include <QString>
#include <QStringList>
#include <QVector>

struct ShownMessage {
    IDialogPresenter::Kind kind;
    QString title;
    QString text;
};

class RecordingPresenter : public IDialogPresenter
{
public:
    bool message(Kind kind, const QString &title, const QString &text) override;
    QString openFileName(QWidget *, const QString &caption, const QString &dir, const QString &filter) override;
    QString saveFileName(QWidget *, const QString &caption, const QString &dir, const QString &filter,
                         QString *selectedFilter) override;
    QString existingDirectory(QWidget *, const QString &caption, const QString &dir) override;
    QStringList openFileNames(QWidget *, const QString &caption, const QString &dir,
                              const QString &filter) override;

    void clear();

    QVector<ShownMessage> messages;
    QStringList dialogCaptions;     // captions of the file dialogs asked for, in order
    QStringList dialogFilters;      // their filters
    QStringList dialogDirs;         // the folders they opened in
    QString selectedFilter;         // filter entry a save dialog reports; empty: its first
    bool questionAnswer = true;     // answer to every question box
    QStringList fileAnswers;        // answers to file dialogs, taken in order; empty = cancel
    QList<QStringList> fileListAnswers; // answers to multi-file dialogs, in order; none = cancel
};

// The presenter installed by the shared test main for the whole test program.
RecordingPresenter &testPresenter();

// Installs a presenter for one scope and restores the previous one afterwards.
class ScopedPresenter
{
public:
    explicit ScopedPresenter(IDialogPresenter *p) : m_previous(setDialogPresenter(p)) {}
    ~ScopedPresenter() { setDialogPresenter(m_previous); }

private:
    IDialogPresenter *m_previous;
};
