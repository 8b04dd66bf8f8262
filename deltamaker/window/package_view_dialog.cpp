#include "deltamaker/window/package_view_dialog.h"

#include "common/dialogs.h"
#include "common/text_format.h"
#include "widgetkit/sys_button.h"
#include "widgetkit/sys_label.h"
#include "widgetkit/sys_layouts.h"
#include "widgetkit/sys_text_edit.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHelpEvent>
#include <QPainter>
#include <QScreen>
#include <QSaveFile>
#include <QScrollArea>
#include <QToolTip>

namespace Deltamaker {

namespace {

QColor colour(const std::string &c) { return QColor(QString::fromStdString(c)); }

// The facts as rich text the text browser draws (it knows table attributes, little CSS).
QString factsHtml(const PackagePicture &p)
{
    QString html = QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" "
                                  "style=\"border-color:#dddddd\">");
    for (const auto &f : p.facts)
        html += QStringLiteral("<tr><td bgcolor=\"#f0f0f0\"><font color=\"#606266\">%1</font>"
                               "</td><td><font color=\"#303133\">%2</font></td></tr>")
                    .arg(QString::fromStdString(f.first).toHtmlEscaped(),
                         QString::fromStdString(f.second).toHtmlEscaped());
    html += QStringLiteral("</table>");
    for (const std::string &n : p.notes)
        html += QStringLiteral("<p style=\"color:#909399\">%1</p>")
                    .arg(QString::fromStdString(n).toHtmlEscaped());
    return html;
}

} // namespace

PackagePictureView::PackagePictureView(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("packagePicture"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PackagePictureView::setPicture(const PackagePicture &picture)
{
    m_picture = picture;
    setFixedSize(int(picture.width + 0.5), int(picture.height + 0.5));
    update();
}

QString PackagePictureView::titleAt(const QPoint &pos) const
{
    for (auto it = m_picture.shapes.rbegin(); it != m_picture.shapes.rend(); ++it)
        if (it->kind == PictureShape::Rect && !it->title.empty() &&
            QRectF(it->x, it->y, it->w, it->h).contains(pos))
            return QString::fromStdString(it->title);
    return QString();
}

void PackagePictureView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setRenderHint(QPainter::Antialiasing, false);
    for (const PictureShape &s : m_picture.shapes) {
        switch (s.kind) {
        case PictureShape::Rect:
            p.setPen(s.stroke.empty() ? QPen(Qt::NoPen) : QPen(colour(s.stroke), 0.5));
            p.setBrush(s.fill.empty() ? QBrush(Qt::NoBrush) : QBrush(colour(s.fill)));
            p.drawRect(QRectF(s.x, s.y, s.w, s.h));
            break;
        case PictureShape::Line:
            p.setPen(QPen(colour(s.stroke), 1));
            p.drawLine(QPointF(s.x, s.y), QPointF(s.x + s.w, s.y + s.h));
            break;
        case PictureShape::Text: {
            QFont font = this->font();
            font.setPixelSize(s.fontSize);
            font.setBold(s.bold);
            p.setFont(font);
            p.setPen(colour(s.fill));
            const QString t = QString::fromStdString(s.text);
            const qreal w = QFontMetricsF(font).horizontalAdvance(t);
            const qreal x = s.anchor == 1 ? s.x - w / 2 : s.anchor == 2 ? s.x - w : s.x;
            p.drawText(QPointF(x, s.y), t);
            break;
        }
        }
    }
}

bool PackagePictureView::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const QString title = titleAt(help->pos());
        if (title.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), title, this);
        return true;
    }
    return QWidget::event(event);
}

PackageViewDialog::PackageViewDialog(QWidget *parent, const DeviceRunFiles &files,
                                     std::function<QString(const QString &)> text)
    : SysDialog(parent), m_text(std::move(text)), m_files(files)
{
    setObjectName(QStringLiteral("packageViewDialog"));
    setWindowTitle(m_text(QStringLiteral("package_view/title")));
    auto *layout = new SysVLayout(this);
    auto *path = new SysLabel(this, QDir::toNativeSeparators(QString::fromLocal8Bit(
                                        files.package.c_str())));
    path->setObjectName(QStringLiteral("packagePath"));
    path->setFontSize(14);
    path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(path);

    m_facts = new SysTextBrowser(this);
    m_facts->setObjectName(QStringLiteral("packageFacts"));
    m_facts->setFontSize(13);
    m_facts->setTextColor(QStringLiteral("#303133"));
    m_facts->setMaximumHeight(fontMetrics().height() * 12);
    layout->addWidget(m_facts);

    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("packagePictureArea"));
    scroll->setBackgroundRole(QPalette::Base);
    m_view = new PackagePictureView;
    scroll->setWidget(m_view);
    layout->addWidget(scroll, 1);

    auto *buttons = new SysHLayout;
    buttons->addStretch(1);
    auto *save = new SysButton(this, m_text(QStringLiteral("package_view/save")));
    save->setObjectName(QStringLiteral("saveHtmlButton"));
    auto *close = new SysButton(this, m_text(QStringLiteral("package_view/close")));
    close->setObjectName(QStringLiteral("closeButton"));
    buttons->addWidget(save);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    QObject::connect(save, &QPushButton::clicked, this, [this] { saveHtml(); });
    QObject::connect(close, &QPushButton::clicked, this, &QDialog::accept);

    QApplication::setOverrideCursor(Qt::WaitCursor);
    PackagePicture picture;
    std::string error;
    m_loaded = package_picture_files(files, flash_profiles().front(), picture, error);
    QApplication::restoreOverrideCursor();
    if (m_loaded) {
        m_view->setPicture(picture);
        m_facts->setHtml(factsHtml(picture));
    } else {
        m_facts->setHtml(QStringLiteral("<p style=\"color:#f56c6c\">%1</p>")
                             .arg(format(QStringLiteral("package_view/failed"),
                                         QString::fromStdString(error))
                                      .toHtmlEscaped()));
    }
    save->setEnabled(m_loaded);
    // As large as the picture needs, within the screen the window is on.
    const QRect screen = (parent ? parent->window() : this)->screen()->availableGeometry();
    if (m_loaded)
        resize(qMin(int(picture.width) + 64, screen.width() * 95 / 100),
               qMin(int(picture.height) + m_facts->maximumHeight() + 120,
                    screen.height() * 90 / 100));
    else
        resizeRatio(0.6, parent ? parent->window() : nullptr);
}

QString PackageViewDialog::format(const QString &key, const QString &argument) const
{
    return formatPattern(m_text(key), {argument});
}

bool PackageViewDialog::saveHtml()
{
    const QString suggested = QString::fromLocal8Bit(m_files.package.c_str()) +
                              QStringLiteral(".html");
    const QString file = saveFileDialog(this, m_text(QStringLiteral("package_view/save")),
                                        suggested, QStringLiteral("HTML (*.html)"));
    if (file.isEmpty())
        return false;
    const std::string page = package_picture_html(m_view->picture());
    QSaveFile out(file); // written beside the file and renamed into place
    const bool ok = out.open(QIODevice::WriteOnly) &&
                    out.write(page.data(), qint64(page.size())) == qint64(page.size()) &&
                    out.commit();
    if (!ok)
        showErrorText(windowTitle(), format(QStringLiteral("package_view/save_failed"),
                                            QDir::toNativeSeparators(file)));
    return ok;
}

} // namespace Deltamaker
