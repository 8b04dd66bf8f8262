#include "widgetkit/sys_slider.h"

#include "widgetkit/sys_style.h"

#include <QLabel>
#include <QMouseEvent>

using Internal::c8;

SysSlider::SysSlider(QWidget *parent) : QSlider(Qt::Horizontal, parent), m_valueLabel(new QLabel(this))
{
    setRange(0, 100);
    m_valueLabel->setStyleSheet(QStringLiteral("QLabel{background-color: transparent;color: #000;min-width:20px;}"));
    m_valueLabel->setAutoFillBackground(true);
    m_valueLabel->setAlignment(Qt::AlignCenter);
    m_valueLabel->hide();
    setThemeColor(QStringLiteral("#409eff"));
}

void SysSlider::setThemeColor(const QString &colour)
{
    const QByteArray c = c8(colour);
    Internal::appendStyle(this, QString::asprintf(
        "\tQSlider{\t\tfont-size: 18px;\t}"
        "\tQSlider::groove:horizontal{\t\theight: .25em;\t\tborder-radius: .125em;\t}"
        "\tQSlider::handle:horizontal{\t\tbackground-color: %s;\t\twidth: .875em;\t\tmargin: -.375em 0px;"
        "\t\tborder-radius: .4375em;\t}"
        "\tQSlider::handle:horizontal:hover{\t\tbackground-color: %s;\t}"
        "\tQSlider::add-page:horizontal{\t\tbackground-color: #fff;\t\tborder: 1px solid %s;\t\tborder-radius: .125em;\t}"
        "\tQSlider::sub-page:horizontal{\t\tbackground-color: %s;\t\tborder: 1px solid %s;\t\tborder-radius: .125em;\t}",
        c.constData(), c8(darkenColor(colour, 0.25)).constData(), c8(lightenColor(colour, 0.5)).constData(),
        c.constData(), c.constData()));
}

void SysSlider::setValueFontSize(int px)
{
    m_valueLabel->setStyleSheet(m_valueLabel->styleSheet() + QStringLiteral("QLabel{font-size: %1px;}").arg(px));
}

void SysSlider::placeValueLabel()
{
    m_valueLabel->setText(QString::number(value()));
    m_valueLabel->adjustSize();
    const qint64 span = static_cast<qint64>(maximum()) - minimum();
    // An empty range has no position to map to: the bubble stays at the left edge.
    const qint64 x = span == 0 ? 0 : static_cast<qint64>(width() - m_valueLabel->width()) * value() / span;
    m_valueLabel->move(static_cast<int>(x), -3);
}

void SysSlider::mousePressEvent(QMouseEvent *event)
{
    if (m_valueLabel->isHidden()) {
        m_valueLabel->show();
        m_valueLabel->setText(QString::number(value()));
    }
    QSlider::mousePressEvent(event);
}

void SysSlider::mouseMoveEvent(QMouseEvent *event)
{
    placeValueLabel();
    QSlider::mouseMoveEvent(event);
}

void SysSlider::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_valueLabel->isHidden())
        m_valueLabel->hide();
    QSlider::mouseReleaseEvent(event);
}
