#include "common/dialogs.h"

#include "common/text_format.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QVariant>

#include <cstdarg>

namespace {

// The dialog's parent: the top-level window of the widget that asked. The kit's widgets style
// their descendants through their sheets, and a dialog parented to a table or a file row would
// take on its header or border colours.
QWidget *sheetFree(QWidget *parent)
{
    return parent ? parent->window() : nullptr;
}

// Host and plug-ins each link their own copy of this file; the application object is the one
// thing they share, so what the host sets is published there.
const char kPresenterProperty[] = "tessel.dialogPresenter";
const char *const kButtonProperties[] = {"tessel.dialogOk", "tessel.dialogYes", "tessel.dialogNo"};
const char *const kButtonTexts[] = {"确定", "是", "否"};

enum Button { OkButton, YesButton, NoButton };

QString buttonText(Button button)
{
    if (QCoreApplication *app = QCoreApplication::instance()) {
        const QString text = app->property(kButtonProperties[button]).toString();
        if (!text.isEmpty())
            return text;
    }
    return QString::fromUtf8(kButtonTexts[button]);
}

class QtDialogPresenter final : public IDialogPresenter
{
public:
    bool message(Kind kind, const QString &title, const QString &text) override
    {
        QMessageBox box(kind == Kind::Critical ? QMessageBox::Critical : QMessageBox::Information,
                        title, text, QMessageBox::NoButton, nullptr);
        if (kind == Kind::Question) {
            QPushButton *yes = box.addButton(buttonText(YesButton), QMessageBox::YesRole);
            QPushButton *no = box.addButton(buttonText(NoButton), QMessageBox::NoRole);
            box.setDefaultButton(yes);
            box.setEscapeButton(no);
            box.exec();
            return box.clickedButton() == yes;
        }
        QPushButton *ok = box.addButton(buttonText(OkButton), QMessageBox::AcceptRole);
        box.setDefaultButton(ok);
        box.exec();
        return box.clickedButton() == ok;
    }
    QString openFileName(QWidget *parent, const QString &caption, const QString &dir,
                         const QString &filter) override
    {
        return QFileDialog::getOpenFileName(sheetFree(parent), caption, dir, filter);
    }
    QString saveFileName(QWidget *parent, const QString &caption, const QString &dir,
                         const QString &filter, QString *selectedFilter) override
    {
        // The dialog itself adds the chosen filter's extension, so that its question before
        // replacing a file names the file that would really be replaced.
        QFileDialog dialog(sheetFree(parent), caption, dir, filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        const auto follow = [&dialog](const QString &entry) {
            dialog.setDefaultSuffix(withFilterExtension(QStringLiteral("x"), entry).mid(2));
        };
        follow(dialog.selectedNameFilter());
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, follow);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        if (selectedFilter)
            *selectedFilter = dialog.selectedNameFilter();
        return dialog.selectedFiles().first();
    }
    QString existingDirectory(QWidget *parent, const QString &caption,
                              const QString &dir) override
    {
        return QFileDialog::getExistingDirectory(sheetFree(parent), caption, dir);
    }
    QStringList openFileNames(QWidget *parent, const QString &caption, const QString &dir,
                              const QString &filter) override
    {
        return QFileDialog::getOpenFileNames(parent, caption, dir, filter);
    }
};

QtDialogPresenter g_qtPresenter;
IDialogPresenter *g_presenter = nullptr;

QString vformat(const char *format, va_list args)
{
    return QString::vasprintf(format, args);
}

} // namespace

QStringList IDialogPresenter::openFileNames(QWidget *parent, const QString &caption,
                                            const QString &dir, const QString &filter)
{
    const QString one = openFileName(parent, caption, dir, filter);
    return one.isEmpty() ? QStringList() : QStringList{one};
}

IDialogPresenter &dialogPresenter()
{
    if (QCoreApplication *app = QCoreApplication::instance()) {
        const QVariant shared = app->property(kPresenterProperty);
        if (shared.isValid()) {
            if (auto *p = reinterpret_cast<IDialogPresenter *>(shared.value<quintptr>()))
                return *p;
        }
    }
    return g_presenter ? *g_presenter : static_cast<IDialogPresenter &>(g_qtPresenter);
}

IDialogPresenter *setDialogPresenter(IDialogPresenter *presenter)
{
    IDialogPresenter *previous = g_presenter;
    g_presenter = presenter;
    if (QCoreApplication *app = QCoreApplication::instance())
        app->setProperty(kPresenterProperty,
                         presenter ? QVariant::fromValue(reinterpret_cast<quintptr>(presenter))
                                   : QVariant());
    return previous;
}

void setDialogButtonTexts(const QString &ok, const QString &yes, const QString &no)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    const QString texts[] = {ok, yes, no};
    for (int i = 0; i < 3; ++i)
        app->setProperty(kButtonProperties[i], texts[i].isEmpty() ? QVariant() : QVariant(texts[i]));
}

void showErrorText(const QString &title, const QString &text)
{
    dialogPresenter().message(IDialogPresenter::Kind::Critical, title, text);
}

void showInfoText(const QString &title, const QString &text)
{
    dialogPresenter().message(IDialogPresenter::Kind::Information, title, text);
}

bool askQuestionText(const QString &title, const QString &text)
{
    return dialogPresenter().message(IDialogPresenter::Kind::Question, title, text);
}

void errorBox(const QString &title, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const QString text = vformat(format, args);
    va_end(args);
    showErrorText(title, text);
}

void infoBox(const QString &title, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const QString text = vformat(format, args);
    va_end(args);
    showInfoText(title, text);
}

bool questionBox(const QString &title, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const QString text = vformat(format, args);
    va_end(args);
    return askQuestionText(title, text);
}

void errorBox(const QString &title, const QString &pattern, const QVector<QVariant> &args)
{
    showErrorText(title, formatPattern(pattern, args));
}

void infoBox(const QString &title, const QString &pattern, const QVector<QVariant> &args)
{
    showInfoText(title, formatPattern(pattern, args));
}

bool questionBox(const QString &title, const QString &pattern, const QVector<QVariant> &args)
{
    return askQuestionText(title, formatPattern(pattern, args));
}

QString openFileDialog(QWidget *parent, const QString &caption, const QString &dir,
                       const QString &filter)
{
    return dialogPresenter().openFileName(parent, caption, dir, filter);
}

QString withFilterExtension(const QString &name, const QString &filterEntry)
{
    if (name.isEmpty() || !QFileInfo(name).suffix().isEmpty())
        return name;
    // "Text (*.csv *.txt)" or a bare "*.csv": the first pattern counts.
    QString patterns = filterEntry;
    const int open = patterns.lastIndexOf(QLatin1Char('('));
    if (open >= 0)
        patterns = patterns.mid(open + 1).section(QLatin1Char(')'), 0, 0);
    const QString first = patterns.simplified().section(QLatin1Char(' '), 0, 0);
    if (!first.startsWith(QLatin1String("*.")))
        return name;
    const QString extension = first.mid(2);
    if (extension.isEmpty() || extension.contains(QLatin1Char('*')) || extension.contains(QLatin1Char('?')))
        return name;
    return name + QLatin1Char('.') + extension;
}

QString saveFileDialog(QWidget *parent, const QString &caption, const QString &dir,
                       const QString &filter)
{
    QString chosen;
    const QString name = dialogPresenter().saveFileName(parent, caption, dir, filter, &chosen);
    if (chosen.isEmpty())
        chosen = filter.section(QStringLiteral(";;"), 0, 0);
    return withFilterExtension(name, chosen);
}

QString directoryDialog(QWidget *parent, const QString &caption, const QString &dir)
{
    return dialogPresenter().existingDirectory(parent, caption, dir);
}

QStringList openFilesDialog(QWidget *parent, const QString &caption, const QString &dir,
                            const QString &filter)
{
    return dialogPresenter().openFileNames(parent, caption, dir, filter);
}
