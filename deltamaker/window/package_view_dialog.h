// The picture of a package just built: its header facts, the map of its partitions and its
// steps on the device, as `deltamaker info --html` draws them, in a dialog of the kit.
#pragma once

#include "deltamaker/report/package_picture.h"
#include "widgetkit/sys_dialog.h"

#include <QString>
#include <QWidget>

#include <functional>

class SysTextBrowser;

namespace Deltamaker {

// Paints the picture's scene; a pointer resting on a shape shows what it stands for.
class PackagePictureView : public QWidget
{
    Q_OBJECT
public:
    explicit PackagePictureView(QWidget *parent = nullptr);
    void setPicture(const PackagePicture &picture);
    const PackagePicture &picture() const { return m_picture; }
    // The title of the topmost shape at `pos`, or an empty text.
    QString titleAt(const QPoint &pos) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    PackagePicture m_picture;
};

class PackageViewDialog : public SysDialog
{
    Q_OBJECT
public:
    // `text` looks up the plug-in's language keys. The package is read and run on the flash
    // model here (a second or so for images of a few MiB).
    PackageViewDialog(QWidget *parent, const DeviceRunFiles &files,
                      std::function<QString(const QString &key)> text);

    bool loaded() const { return m_loaded; }
    PackagePictureView *view() const { return m_view; }
    // Asks for a file and writes the page there. False when cancelled or the write failed.
    bool saveHtml();

private:
    QString format(const QString &key, const QString &argument) const;

    std::function<QString(const QString &)> m_text;
    DeviceRunFiles m_files;
    PackagePictureView *m_view = nullptr;  // child of the scroll area
    SysTextBrowser *m_facts = nullptr;     // child
    bool m_loaded = false;
};

} // namespace Deltamaker
