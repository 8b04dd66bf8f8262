#include "widgetkit/sys_style.h"

#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QVector>
#include <QWidget>

#include <climits>
#include <cmath>

// The kit is linked statically into the host and into every plug-in, where nothing else
// would pull the resource object in. Each module registers its own copy; lookups find the
// first, and a plug-in's copy goes away with the plug-in. Q_INIT_RESOURCE must stand outside
// any namespace.
static void initKitResources()
{
    Q_INIT_RESOURCE(widgetkit);
}

namespace {

const char *const kArrowFolder = ":/tessel/kit/arrows";

int hexDigit(QChar ch)
{
    const ushort u = ch.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Parses "#rgb" / "#rrggbb" into three channels. False on anything else.
bool parseColour(const QString &colour, int rgb[3])
{
    if (!colour.startsWith(QLatin1Char('#')))
        return false;
    QString digits = colour.mid(1);
    if (digits.size() == 3) {
        QString doubled;
        for (QChar ch : digits)
            doubled += QString(2, ch);
        digits = doubled;
    } else if (digits.size() != 6) {
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        const int hi = hexDigit(digits[2 * i]);
        const int lo = hexDigit(digits[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        rgb[i] = hi * 16 + lo;
    }
    return true;
}

bool validFactor(double f)
{
    return f >= 0.0 && f <= 1.0; // false for NaN too
}

QString formatColour(const int rgb[3])
{
    return QString::asprintf("#%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
}

} // namespace

QString lightenColor(const QString &colour, double factor)
{
    int rgb[3];
    if (!validFactor(factor) || !parseColour(colour, rgb))
        return QString();
    for (int &c : rgb)
        c += static_cast<int>(std::lround((255 - c) * factor));
    return formatColour(rgb);
}

QString darkenColor(const QString &colour, double factor)
{
    int rgb[3];
    if (!validFactor(factor) || !parseColour(colour, rgb))
        return QString();
    for (int &c : rgb)
        c = static_cast<int>(std::lround(c * (1.0 - factor)));
    return formatColour(rgb);
}

void resizeRatio(QWidget *widget, double ratio, const QWidget *reference)
{
    if (!widget)
        return;
    QSize base;
    if (reference) {
        base = reference->size();
    } else if (QScreen *screen = QGuiApplication::primaryScreen()) {
        base = screen->availableGeometry().size();
    } else {
        return;
    }
    widget->resize(static_cast<int>(base.width() * ratio), static_cast<int>(base.height() * ratio));
}

namespace Internal {

void appendStyle(QWidget *widget, const QString &fragment)
{
    // Qt re-polishes the children for a changed sheet only once the widget itself is polished.
    // Before that, children styled by an earlier sheet keep its rules: a scroll area's scroll
    // bars, styled by the base sheet alone, stayed native and drew a light handle on a grey
    // groove. Polishing first makes every fragment reach them.
    widget->ensurePolished();
    widget->setStyleSheet(widget->styleSheet() + fragment);
}

QString arrowImage(const QString &colour, bool up)
{
    static const bool registered = (initKitResources(), true);
    (void)registered;
    const QColor color(colour);
    if (colour.isEmpty() || !color.isValid())
        return QString();
    // The shipped arrows, by colour; a colour without its own arrow gets the nearest one.
    static const QVector<QRgb> shipped = [] {
        QVector<QRgb> out;
        const QRegularExpression name(QStringLiteral("^arrow-([0-9a-f]{6})-down\\.png$"));
        for (const QString &file : QDir(QLatin1String(kArrowFolder)).entryList(QDir::Files)) {
            const QRegularExpressionMatch m = name.match(file);
            if (m.hasMatch())
                out.push_back(m.captured(1).toUInt(nullptr, 16));
        }
        return out;
    }();
    if (shipped.isEmpty())
        return QString();
    const QRgb want = color.rgb();
    QRgb best = shipped.front();
    int bestDistance = INT_MAX;
    for (QRgb rgb : shipped) {
        const int dr = qRed(rgb) - qRed(want), dg = qGreen(rgb) - qGreen(want), db = qBlue(rgb) - qBlue(want);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = rgb;
        }
    }
    return QStringLiteral("%1/arrow-%2-%3.png")
        .arg(QLatin1String(kArrowFolder))
        .arg(best & 0xffffff, 6, 16, QLatin1Char('0'))
        .arg(up ? QLatin1String("up") : QLatin1String("down"));
}

QString rule(const QString &selector, const QString &declarations)
{
    return QLatin1Char('\t') + selector + QLatin1String("{\t\t") + declarations
        + QLatin1String("\t}");
}

QString scrollBarFragment(const QString &selector, const QString &colour)
{
    const QString s = selector + QLatin1String(" QScrollBar");
    return rule(s + QLatin1String(":vertical"), QStringLiteral("width: 8px;\t\tmargin: 0px;"))
        + rule(s + QLatin1String(":horizontal"), QStringLiteral("height: 8px;\t\tmargin: 0px;"))
        + rule(s, QStringLiteral("background-color: %1;\t\tborder: 1px solid %1;\t\tborder-radius: 4px;")
                      .arg(colour))
        + rule(s + QLatin1String(":hover"),
               QStringLiteral("border-color: %1;").arg(lightenColor(colour, 0.5)))
        + rule(s + QLatin1String("::handle"),
               QStringLiteral("background-color: %1;\t\tborder-radius: 3px;\t\tmin-height: 7px;\t\tmin-width: 7px;")
                   .arg(darkenColor(colour, 0.25)))
        + rule(s + QLatin1String("::handle:hover"),
               QStringLiteral("background-color: %1;").arg(darkenColor(colour, 0.5)))
        + rule(s + QLatin1String("::add-line, ") + s + QLatin1String("::sub-line"),
               QStringLiteral("width: 0px;\t\theight: 0px;\t\tborder: none;"))
        + rule(s + QLatin1String("::add-page, ") + s + QLatin1String("::sub-page"),
               QStringLiteral("background: none;"));
}

} // namespace Internal
