#include "widgetkit/sys_dialog.h"

#include "widgetkit/sys_style.h"

SysDialog::SysDialog(QWidget *parent) : QDialog(parent)
{
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("\tQDialog{\t\twidth: auto;\t\theight: auto;\t}"));
    setFontSize(18);
    setBackgroundColor(QStringLiteral("#FFF"));
    setWindowFlags(Qt::Dialog | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
                   | Qt::WindowCloseButtonHint);
}

void SysDialog::setFontSize(int px)
{
    Internal::appendStyle(this, QString::asprintf("\tQDialog{\t\tfont-size: %dpx;\t}", px));
}

void SysDialog::setBackgroundColor(const QString &colour)
{
    Internal::appendStyle(this, QString::asprintf("\tQDialog{\t\tbackground-color: %s;\t}",
                                                  Internal::c8(colour).constData()));
}

void SysDialog::setPadding(double em)
{
    Internal::appendStyle(this, QString::asprintf("\tQDialog{\t\tpadding: %.2fem;\t}", em));
}

void SysDialog::setPadding(double horizontalEm, double verticalEm)
{
    Internal::appendStyle(this, QString::asprintf("\tQDialog{\t\tpadding: %.2fem %.2fem;\t}",
                                                  verticalEm, horizontalEm));
}

void SysDialog::resizeRatio(double ratio, const QWidget *reference)
{
    ::resizeRatio(this, ratio, reference);
}
