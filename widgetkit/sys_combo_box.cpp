#include "widgetkit/sys_combo_box.h"

#include "widgetkit/sys_style.h"

#include <QListView>

using Internal::appendStyle;
using Internal::c8;

SysComboBox::SysComboBox(QWidget *parent, const QStringList &items) : QComboBox(parent)
{
    setView(new QListView(this)); // owned by the combo box
    setStyleSheet(QStringLiteral(
        "\tQComboBox{\t\tbackground-color: #fff;\t\tborder: 1px solid transparent;\t\tpadding: .125em .5em;"
        "\t\tmin-width: 4em;\t}"
        "\tQComboBox::drop-down{\t\tsubcontrol-origin: padding;\t\tsubcontrol-position: top right;"
        "\t\twidth: 2em;\t\tborder: none;\t\tborder-left: 1px solid;\t}"
        "\tQComboBox::down-arrow{\t\twidth: 12px;\t\theight: 8px;\t\tborder: none;\t}"
        "\tQComboBox QAbstractItemView{\t\tbackground-color: #fff;\t\toutline: 0px;\t}"
        "\tQComboBox QAbstractItemView::item{\t\tcolor: #000;\t\tborder-bottom: 1px solid #f5f5f5;\t}"
        "\tQComboBox QAbstractItemView::item:hover{\t\tfont-weight: bold;\t}"));
    setScrollBarColor(QStringLiteral("#ddd"));
    setThemeColor(QStringLiteral("#409eff"));
    setFontSize(18);
    setItemPadding(0.375, 0.25);
    setBorderRadius(0.625);
    if (!items.isEmpty())
        addItems(items);
    connect(this, QOverload<int>::of(&QComboBox::activated), this, &SysComboBox::onActivated);
}

void SysComboBox::setFontSize(int px)
{
    appendStyle(this, QString::asprintf(
        "\tQComboBox{\t\tfont-size: %dpx;\t}\tQComboBox::drop-down{\t\tfont-size: %dpx;\t}"
        "\tQComboBox QAbstractItemView::item{\t\tfont-size: %dpx;\t}", px, px, px));
}

void SysComboBox::setFontWeight(int weight)
{
    appendStyle(this, QString::asprintf(
        "\tQComboBox{\t\tfont-weight: %d;\t}\tQComboBox QAbstractItemView::item{\t\tfont-weight: %d;\t}",
        weight, weight));
}

void SysComboBox::setItemPadding(double horizontalEm, double verticalEm)
{
    appendStyle(this, QString::asprintf("\tQComboBox QAbstractItemView::item{\t\tpadding: %.2fem %.2fem;\t}",
                                        verticalEm, horizontalEm));
}

void SysComboBox::setBorderRadius(double em)
{
    appendStyle(this, QString::asprintf(
        "\tQComboBox{\t\tborder-radius: %.2fem;\t}\tQComboBox QAbstractItemView{\t\tborder-radius: 0px;\t}", em));
}

void SysComboBox::setBorderWidth(int px)
{
    appendStyle(this, QString::asprintf("\tQComboBox{\t\tborder-width: %dpx;\t}", px));
}

void SysComboBox::setBorderColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQComboBox{\t\tborder-color: %s;\t}", c8(colour).constData()));
}

void SysComboBox::setMinWidth(double em)
{
    appendStyle(this, QString::asprintf("\tQComboBox{\t\tmin-width: %.2fem;\t}", em));
}

void SysComboBox::setMaxWidth(double em)
{
    appendStyle(this, QString::asprintf("\tQComboBox{\t\tmax-width: %.2fem;\t}", em));
}

void SysComboBox::setThemeColor(const QString &colour)
{
    const QByteArray c = c8(colour);
    appendStyle(this, QString::asprintf(
        "\tQComboBox{\t\tborder-color: %s;\t}"
        "\tQComboBox::drop-down{\t\tborder-left-color: %s;\t}"
        "\tQComboBox::down-arrow{\t\timage: url(%s);\t}"
        "\tQComboBox::down-arrow:on{\t\timage: url(%s);\t}"
        "\tQComboBox QAbstractItemView{\t\tborder-left: 1px solid %s;\t\tborder-right: 1px solid %s;"
        "\t\tborder-bottom: 1px solid %s;\t}"
        "\tQComboBox QAbstractItemView::item:hover{\t\tbackground-color: %s;\t}"
        "\tQComboBox QAbstractItemView::item:selected{\t\tbackground-color: %s;\t\tcolor: #fff;\t}",
        c.constData(), c8(lightenColor(colour, 0.25)).constData(),
        c8(Internal::arrowImage(colour, false)).constData(), c8(Internal::arrowImage(colour, true)).constData(),
        c.constData(), c.constData(), c.constData(), c8(lightenColor(colour, 0.5)).constData(), c.constData()));
}

void SysComboBox::setBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQComboBox{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysComboBox::setTextColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQComboBox{\t\tcolor: %s;\t}", c8(colour).constData()));
}

void SysComboBox::setArrowColor(const QString &closed, const QString &open)
{
    appendStyle(this, QString::asprintf(
        "\tQComboBox::down-arrow{\t\timage: url(%s);\t}\tQComboBox::down-arrow:on{\t\timage: url(%s);\t}",
        c8(Internal::arrowImage(closed, false)).constData(), c8(Internal::arrowImage(open, true)).constData()));
}

void SysComboBox::setScrollBarColor(const QString &colour)
{
    appendStyle(this, Internal::scrollBarFragment(QStringLiteral("QComboBox"), colour));
}

QStringList SysComboBox::itemTexts() const
{
    QStringList texts;
    for (int i = 0; i < count(); ++i)
        texts << itemText(i);
    return texts;
}

void SysComboBox::setItems(const QStringList &items)
{
    clear();
    addItems(items);
}

void SysComboBox::hideItem(int row)
{
    if (auto *list = qobject_cast<QListView *>(view()))
        list->setRowHidden(row, true);
}

void SysComboBox::onActivated(int)
{
    if (m_selectLast && count() > 0)
        setCurrentIndex(count() - 1);
}
