#include "widgetkit/sys_splitter.h"

#include "widgetkit/sys_style.h"

SysSplitter::SysSplitter(QWidget *parent) : QSplitter(parent)
{
    setChildrenCollapsible(false);
    setStyleSheet(baseStyle());
}

QString SysSplitter::baseStyle()
{
    return QStringLiteral("\tQSplitter{\t\tpadding: 0px;\t\tmargin: 0px;\t\tbackground-color: transparent;\t}"
                          "\tQSplitter::handle{\t\tbackground-color: transparent;\t}");
}

void SysSplitter::setBackgroundColor(const QString &colour)
{
    Internal::appendStyle(this, QString::asprintf("\tQSplitter{\t\tbackground-color: %s;\t}",
                                                  Internal::c8(colour).constData()));
}

void SysSplitter::setPadding(double em)
{
    Internal::appendStyle(this, QString::asprintf("\tQSplitter{\t\tpadding: %.2fem;\t}", em));
}

void SysSplitter::setHandleWidth(int px)
{
    Internal::appendStyle(this, QString::asprintf("\tQSplitter::handle{\t\twidth: %dpx; \t}", px));
}

void SysSplitter::setBorderRadius(double em)
{
    Internal::appendStyle(this, QString::asprintf("\tQSplitter{\t\tborder-radius: %.2fem;\t}", em));
}

void SysSplitter::setHorizontal(bool horizontal)
{
    setOrientation(horizontal ? Qt::Horizontal : Qt::Vertical);
}

void SysSplitter::clearWidgets()
{
    while (count() > 0) {
        QWidget *child = widget(count() - 1);
        child->hide();
        child->setParent(nullptr);
        delete child;
    }
}
