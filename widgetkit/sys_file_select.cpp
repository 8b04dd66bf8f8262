#include "widgetkit/sys_file_select.h"

#include "common/dialogs.h"
#include "widgetkit/sys_button.h"
#include "widgetkit/sys_line_edit.h"
#include "widgetkit/sys_splitter.h"
#include "widgetkit/sys_style.h"

#include <QDir>
#include <QFileInfo>

using Internal::appendStyle;
using Internal::c8;

SysFileSelect::SysFileSelect(QWidget *parent, const QString &buttonText, const QStringList &nameFilters)
    : QSplitter(Qt::Horizontal, parent), m_nameFilters(nameFilters), m_edit(new SysLineEdit(this)),
      m_button(new SysButton(this, buttonText))
{
    addWidget(m_edit);
    addWidget(m_button);
    setStretchFactor(0, 1);
    setStretchFactor(1, 0);
    setChildrenCollapsible(false);
    setHandleWidth(0);
    setStyleSheet(SysSplitter::baseStyle());
    // The splitter draws the frame; the parts sit inside it without borders of their own.
    m_edit->setBorderWidth(0);
    m_button->setBorderWidth(0);
    m_edit->setStyleSheet(m_edit->styleSheet()
                          + QStringLiteral("QLineEdit{margin: 1px;}QLineEdit:read-only {color: #333;}"
                                           "QLineEdit:disabled{color: #c0c0c0;}"));
    m_edit->setBackgroundColor(QStringLiteral("transparent"));
    setFontSize(18);
    setBorderRadius(0.9);
    setBorderWidth(1);
    setThemeColor(QStringLiteral("#409eff"));
    connect(m_button, &QPushButton::clicked, this, &SysFileSelect::openFileBtnClicked);
}

void SysFileSelect::setFontSize(int px)
{
    appendStyle(this, QString::asprintf("\tQSplitter{\t\tfont-size: %dpx;\t}", px));
    m_edit->setFontSize(px);
    m_button->setFontSize(px);
}

void SysFileSelect::setFontWeight(int weight)
{
    m_button->setFontWeight(weight);
}

void SysFileSelect::setTextColor(const QString &colour)
{
    m_button->setTextColor(colour);
}

void SysFileSelect::setBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQSplitter{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysFileSelect::setBorderRadius(double em)
{
    appendStyle(this, QString::asprintf("\tQSplitter{\t\tborder-radius: %.2fem;\t}", em));
    m_edit->setCornerRadii(em, 0, em, 0);
    m_button->setCornerRadii(0, em, 0, em);
}

void SysFileSelect::setBorderWidth(int px)
{
    appendStyle(this, QString::asprintf("\tQSplitter{\t\tborder: %dpx solid;\t}", px));
}

void SysFileSelect::setBorderColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQSplitter{\t\tborder-color: %s;\t}", c8(colour).constData()));
}

void SysFileSelect::setThemeColor(const QString &colour)
{
    m_button->setThemeColor(colour);
    m_button->setBorderWidth(0);
    setBorderColor(colour);
}

void SysFileSelect::setButtonText(const QString &text)
{
    m_button->setText(text);
}

void SysFileSelect::setEditable(bool editable)
{
    m_edit->setReadOnly(!editable);
}

void SysFileSelect::clearPath()
{
    m_edit->clear();
}

QString SysFileSelect::path() const
{
    return m_edit->text();
}

void SysFileSelect::setPath(const QString &path)
{
    m_edit->setText(path);
}

QString SysFileSelect::dialogDirectory() const
{
    const QString current = path().trimmed();
    if (!current.isEmpty()) {
        const QFileInfo info(current);
        if (m_mode == Folder ? info.isDir() : info.absoluteDir().exists())
            return info.absoluteFilePath();
    }
    // Not the working folder: the installed program's is a hidden one of its own.
    return m_startDir.isEmpty() ? QDir::homePath() : m_startDir;
}

void SysFileSelect::openFileBtnClicked()
{
    // Qt separates the entries of a filter list with ";;"; a single ";" would merge them
    // into one pattern that matches nothing.
    const QString filters = m_nameFilters.join(QStringLiteral(";;"));
    const QString dir = dialogDirectory();

    QString answer;
    switch (m_mode) {
    case OpenFile: answer = openFileDialog(this, m_caption, dir, filters); break;
    case Folder: answer = directoryDialog(this, m_caption, dir); break;
    case SaveFile: answer = saveFileDialog(this, m_caption, dir, filters); break;
    default: return;
    }
    if (answer.isEmpty())
        return;
    const QFileInfo chosen(answer);
    m_startDir = m_mode == Folder ? chosen.absoluteFilePath() : chosen.absolutePath();
    m_edit->setText(answer);
    emit selected(answer);
}
