#include "widgetkit/sys_button.h"

#include "widgetkit/sys_edit_style_p.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

using Internal::appendStyle;
using Internal::c8;

SysButton::SysButton(QWidget *parent, const QString &text) : QPushButton(parent)
{
    setStyleSheet(QStringLiteral(
        "\tQPushButton{\t\tcolor: #fff;\t\tborder: 1px solid transparent;\t\tpadding: .25em 1em;\t}"
        "\tQPushButton:disabled{\t\tcolor: #fafafa;\t\tbackground-color: #c0c0c0;\t}"
        "\tQToolTip{\t\tcolor: #FFF;\t}"));
    setFontSize(18);
    setThemeColor(QStringLiteral("#409eff"));
    setBorderRadius(0.75);
    // The style's faint dotted focus box gives way to the ring drawn in paintEvent.
    appendStyle(this, QStringLiteral("\tQPushButton{\t\toutline: none;\t}"));
    setText(text);
}

QString SysButton::focusRingColor() const
{
    return darkenColor(m_theme, 0.35);
}

void SysButton::keyPressEvent(QKeyEvent *event)
{
    // A push button takes only Space by itself outside dialogs; Enter on the focused button is
    // what a keyboard user expects everywhere.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier
        && isEnabled()) {
        animateClick();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void SysButton::paintEvent(QPaintEvent *event)
{
    QPushButton::paintEvent(event);
    if (!hasFocus() || !isEnabled())
        return;
    const QColor ring(focusRingColor());
    if (!ring.isValid())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Each corner keeps the button's own radius, less the inset.
    const auto outline = [this](const QRectF &r) {
        const double px = m_fontPx;
        const double inset = r.left();
        const auto radius = [&](int corner) { return qMax(0.0, m_radiiEm[corner] * px - inset); };
        const double tl = radius(0), tr = radius(1), bl = radius(2), br = radius(3);
        QPainterPath path;
        path.moveTo(r.left() + tl, r.top());
        path.lineTo(r.right() - tr, r.top());
        path.arcTo(QRectF(r.right() - 2 * tr, r.top(), 2 * tr, 2 * tr), 90, -90);
        path.lineTo(r.right(), r.bottom() - br);
        path.arcTo(QRectF(r.right() - 2 * br, r.bottom() - 2 * br, 2 * br, 2 * br), 0, -90);
        path.lineTo(r.left() + bl, r.bottom());
        path.arcTo(QRectF(r.left(), r.bottom() - 2 * bl, 2 * bl, 2 * bl), 270, -90);
        path.lineTo(r.left(), r.top() + tl);
        path.arcTo(QRectF(r.left(), r.top(), 2 * tl, 2 * tl), 180, -90);
        path.closeSubpath();
        return path;
    };
    const QRectF area = QRectF(rect());
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(ring, 2));
    painter.drawPath(outline(area.adjusted(1, 1, -1, -1)));
    // A light line inside keeps the ring apart from a fill of the same hue.
    painter.setPen(QPen(QColor(255, 255, 255, 200), 1));
    painter.drawPath(outline(area.adjusted(2.5, 2.5, -2.5, -2.5)));
}

void SysButton::setFontSize(int px)
{
    m_fontPx = px;
    appendStyle(this, QString::asprintf("\tQPushButton{\t\tfont-size: %dpx;\t}", px));
}

void SysButton::setFontWeight(int weight)
{
    appendStyle(this, QString::asprintf("\tQPushButton{\t\tfont-weight: %d;\t}", weight));
}

void SysButton::setTextColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQPushButton{\t\tcolor: %s;\t}", c8(colour).constData()));
}

void SysButton::setBorderRadius(double em)
{
    for (double &r : m_radiiEm)
        r = em;
    appendStyle(this, QString::asprintf("\tQPushButton{\t\tborder-radius: %.2fem;\t}", em));
}

void SysButton::setCornerRadii(double topLeft, double topRight, double bottomLeft, double bottomRight)
{
    m_radiiEm[0] = topLeft;
    m_radiiEm[1] = topRight;
    m_radiiEm[2] = bottomLeft;
    m_radiiEm[3] = bottomRight;
    appendStyle(this, Internal::cornerRadiiFragment(QStringLiteral("QPushButton"), topLeft, topRight,
                                                    bottomLeft, bottomRight));
}

void SysButton::setBorderWidth(int px)
{
    appendStyle(this, QString::asprintf("\tQPushButton{\t\tborder-width: %dpx;\t}", px));
}

void SysButton::setBorderWidth(int top, int right, int bottom, int left)
{
    appendStyle(this, Internal::fourWidthsFragment(QStringLiteral("QPushButton"), top, right, bottom, left));
}

void SysButton::setPadding(double em)
{
    appendStyle(this, QString::asprintf("\tQPushButton{\t\tpadding: %.2fem;\t}", em));
}

void SysButton::setPadding(double horizontalEm, double verticalEm)
{
    appendStyle(this, QString::asprintf("\tQPushButton{\t\tpadding: %.2fem %.2fem;\t}", verticalEm, horizontalEm));
}

void SysButton::setThemeColor(const QString &colour)
{
    m_theme = colour;
    appendStyle(this, QString::asprintf(
        "\tQPushButton{\t\tbackground-color: %s;\t\tborder-color: %s;\t}"
        "\tQPushButton:hover{\t\tbackground-color: %s;\t}"
        "\tQPushButton:pressed{\t\tbackground-color: %s;\t}"
        "\tQToolTip{\t\tbackground-color: %s;\t\tborder: 1px solid %s;\t}",
        c8(colour).constData(), c8(lightenColor(colour, 0.75)).constData(),
        c8(lightenColor(colour, 0.125)).constData(), c8(lightenColor(colour, 0.25)).constData(),
        c8(lightenColor(colour, 0.25)).constData(), c8(lightenColor(colour, 0.25)).constData()));
}

void SysButton::setBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQPushButton{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysButton::setHoverBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQPushButton:hover{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysButton::setPressedBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQPushButton:pressed{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysButton::setDisabledBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQPushButton:disabled{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysButton::setDisabledTextColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQPushButton:disabled{\t\tcolor: %s;\t}", c8(colour).constData()));
}

void SysButton::setFlatLook()
{
    appendStyle(this, QStringLiteral(
        "QPushButton, QPushButton::hover, QPushButton::pressed{background: transparent;padding: 0px;border: none;}"));
}
