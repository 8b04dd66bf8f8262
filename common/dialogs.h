// Message boxes and file dialogs go through one replaceable presenter, so that tests (and
// any headless caller) can answer them instead of a person. The presenter is shared by the
// host and every plug-in of the process.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class QWidget;

class IDialogPresenter
{
public:
    enum class Kind { Critical, Information, Question };

    virtual ~IDialogPresenter() = default;
    // Shows a modal message box. Returns true when the first button ("确定" or "是") was picked.
    virtual bool message(Kind kind, const QString &title, const QString &text) = 0;
    // File dialogs: an empty result means the user cancelled.
    virtual QString openFileName(QWidget *parent, const QString &caption, const QString &dir,
                                 const QString &filter) = 0;
    // `selectedFilter`, when given, receives the filter entry the user left chosen.
    virtual QString saveFileName(QWidget *parent, const QString &caption, const QString &dir,
                                 const QString &filter, QString *selectedFilter) = 0;
    virtual QString existingDirectory(QWidget *parent, const QString &caption,
                                      const QString &dir) = 0;
    // Several existing files, in the order given; empty when cancelled. A presenter without
    // its own offers the one-file dialog.
    virtual QStringList openFileNames(QWidget *parent, const QString &caption, const QString &dir,
                                      const QString &filter);
};

// The presenter in force: the one installed, or the Qt dialogs.
IDialogPresenter &dialogPresenter();
// Installs a presenter (not owned; nullptr restores the Qt dialogs). Returns the previous one.
IDialogPresenter *setDialogPresenter(IDialogPresenter *presenter);

// The buttons' texts of every message box in the process, host and plug-ins alike: "确定",
// "是" and "否" until set. An empty text keeps the Chinese one.
void setDialogButtonTexts(const QString &ok, const QString &yes, const QString &no);

// Critical box with the one button "确定".
void errorBox(const QString &title, const char *format, ...) __attribute__((format(printf, 2, 3)));
// Information box with the one button "确定".
void infoBox(const QString &title, const char *format, ...) __attribute__((format(printf, 2, 3)));
// Information box with the buttons "是" (default) and "否"; true only for "是".
bool questionBox(const QString &title, const char *format, ...) __attribute__((format(printf, 2, 3)));

// The same boxes for a pattern read from a language file: it is filled by formatPattern, so a
// conversion without a matching argument is shown as written and never reaches printf. The
// printf forms above are for literal formats only.
void errorBox(const QString &title, const QString &pattern, const QVector<QVariant> &args = {});
void infoBox(const QString &title, const QString &pattern, const QVector<QVariant> &args = {});
bool questionBox(const QString &title, const QString &pattern, const QVector<QVariant> &args = {});

// Messages that are already formatted.
void showErrorText(const QString &title, const QString &text);
void showInfoText(const QString &title, const QString &text);
bool askQuestionText(const QString &title, const QString &text);

QString openFileDialog(QWidget *parent, const QString &caption, const QString &dir,
                       const QString &filter);
// A name given without an extension gets the one of the filter entry chosen in the dialog
// (the first pattern of entries such as "Packages (*.pkg *.bin)"; none for "*").
QString saveFileDialog(QWidget *parent, const QString &caption, const QString &dir,
                       const QString &filter);
// `name` with the extension of the filter entry's first pattern when it has none of its own.
QString withFilterExtension(const QString &name, const QString &filterEntry);
QString directoryDialog(QWidget *parent, const QString &caption, const QString &dir);
QStringList openFilesDialog(QWidget *parent, const QString &caption, const QString &dir,
                            const QString &filter);
