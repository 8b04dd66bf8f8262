// make_icons: draws the Tessel application icon at the given pixel sizes into
// OUTDIR/<N>x<N>/apps/tessel.png (the hicolor theme layout).
// The icon is a rounded tile in the workbench's primary colour carrying one isometric block made
// of three rhombi, the unit of a tessellation. Every size is drawn from the shapes, not scaled.

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPointF>
#include <QPolygonF>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);

    // The tile: a rounded square, top-lit.
    const QRectF tile(8, 8, 240, 240);
    QLinearGradient ground(tile.topLeft(), tile.bottomLeft());
    ground.setColorAt(0, QColor(0x5c, 0xad, 0xff));
    ground.setColorAt(1, QColor(0x1f, 0x78, 0xd8));
    QPainterPath tilePath;
    tilePath.addRoundedRect(tile, 48, 48);
    p.fillPath(tilePath, ground);

    // The block: a hexagon of three rhombi around the centre, lit from above.
    const QPointF c(128, 132);
    const double r = 88;
    const double dx = r * std::sqrt(3.0) / 2;
    const QPointF top(c.x(), c.y() - r), bottom(c.x(), c.y() + r);
    const QPointF upLeft(c.x() - dx, c.y() - r / 2), upRight(c.x() + dx, c.y() - r / 2);
    const QPointF lowLeft(c.x() - dx, c.y() + r / 2), lowRight(c.x() + dx, c.y() + r / 2);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xff, 0xff));
    p.drawPolygon(QPolygonF({top, upRight, c, upLeft}));
    p.setBrush(QColor(0xd9, 0xec, 0xff));
    p.drawPolygon(QPolygonF({upLeft, c, bottom, lowLeft}));
    p.setBrush(QColor(0xa0, 0xcf, 0xff));
    p.drawPolygon(QPolygonF({c, upRight, lowRight, bottom}));

    // Seams between the faces, dropped at the smallest sizes where they would only blur.
    if (size >= 32) {
        QPen seam(QColor(0x1f, 0x78, 0xd8));
        seam.setWidthF(6);
        seam.setJoinStyle(Qt::RoundJoin);
        seam.setCapStyle(Qt::RoundCap);
        p.setPen(seam);
        p.setBrush(Qt::NoBrush);
        p.drawLine(c, upLeft);
        p.drawLine(c, upRight);
        p.drawLine(c, bottom);
    }
    p.end();
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_icons OUTDIR SIZE...\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        char *end = nullptr;
        const long size = std::strtol(argv[i], &end, 10);
        if (end == argv[i] || *end || size < 8 || size > 1024) {
            std::fprintf(stderr, "make_icons: bad size %s\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
        const QString path = dir + QStringLiteral("/tessel.png");
        const QString tmp = path + QStringLiteral(".tmp");
        if (!QDir().mkpath(dir) || !drawIcon(int(size)).save(tmp, "PNG")
            || !(QFile::remove(path) || !QFile::exists(path)) || !QFile::rename(tmp, path)) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
