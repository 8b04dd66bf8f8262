// Path edit with a browse button: open a file, choose a folder, or name a file to save.
#pragma once

#include <QSplitter>
#include <QStringList>

class SysButton;
class SysLineEdit;

class SysFileSelect : public QSplitter
{
    Q_OBJECT
public:
    enum Mode { OpenFile = 0, Folder = 1, SaveFile = 2 };

    SysFileSelect(QWidget *parent = nullptr, const QString &buttonText = QString(),
                  const QStringList &nameFilters = QStringList());

    // Splitter, edit and button.
    void setFontSize(int px);
    // Button only.
    void setFontWeight(int weight);
    void setTextColor(const QString &colour);
    void setBackgroundColor(const QString &colour);
    void setBorderRadius(double em);
    void setBorderWidth(int px);
    void setBorderColor(const QString &colour);
    // Button colour and frame.
    void setThemeColor(const QString &colour);

    void setButtonText(const QString &text);
    // The path edit is read-only when false.
    void setEditable(bool editable);
    void clearPath();
    QString path() const;
    void setPath(const QString &path);

    void setCaption(const QString &caption) { m_caption = caption; }
    QString caption() const { return m_caption; }
    void setNameFilters(const QStringList &filters) { m_nameFilters = filters; }
    QStringList nameFilters() const { return m_nameFilters; }
    void setMode(int mode) { m_mode = mode; }
    int mode() const { return m_mode; }
    // Folder the dialog opens in while the edit names none that exists: the folder of the last
    // answer, or one the owner remembered; the home folder when empty.
    void setStartDirectory(const QString &folder) { m_startDir = folder; }
    QString startDirectory() const { return m_startDir; }
    // What the dialog opens with: the path in the edit when its folder exists (so the file is
    // proposed again), else the start folder.
    QString dialogDirectory() const;

    SysLineEdit *pathEdit() const { return m_edit; }
    SysButton *browseButton() const { return m_button; }

signals:
    void selected(QString strFile);

public slots:
    // Asks for a path in the current mode; a non-empty answer lands in the edit and is
    // announced by selected().
    void openFileBtnClicked();

private:
    QString m_caption;
    QStringList m_nameFilters;
    int m_mode = OpenFile;
    QString m_startDir;
    SysLineEdit *m_edit;  // child of this splitter
    SysButton *m_button;  // child of this splitter
};
