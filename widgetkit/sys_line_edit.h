// Single-line input.
#pragma once

#include <QLineEdit>

class SysLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit SysLineEdit(QWidget *parent = nullptr);

    void setFontSize(int px);
    void setFontWeight(int weight);
    void setTextColor(const QString &colour);
    // "left", "right" or "center"; any other text is ignored.
    void setTextAlign(const QString &align);
    void setBorderRadius(double em);
    void setCornerRadii(double topLeft, double topRight, double bottomLeft, double bottomRight);
    void setBorderWidth(int px);
    void setBorderWidth(int top, int right, int bottom, int left);
    void setBackgroundColor(const QString &colour);
    void setMinWidth(double em);
    void setMaxWidth(double em);
    void setWidthEm(double em);
    void setFullWidth();
    void setThemeColor(const QString &colour);
    void setSelectionBackgroundColor(const QString &colour);

    // The shortest text a form should accept (0 unless set). The line edit itself does not
    // enforce it; the dialog that sets it checks it before it takes the text.
    void setMinLength(int length) { m_minLength = length; }
    int minLength() const { return m_minLength; }

private:
    int m_minLength = 0;
};
