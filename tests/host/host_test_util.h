// Helpers shared by the host tests: a temporary working folder and small file writers.
#pragma once

#include "common/utils.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTimer>

#include <functional>

// Makes a fresh temporary folder the working directory for one scope.
class ScopedWorkDir
{
public:
    ScopedWorkDir() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~ScopedWorkDir() { QDir::setCurrent(m_previous); }
    QString path() const { return QDir::currentPath(); }
    QString file(const QString &rel) const { return path() + QLatin1Char('/') + rel; }

private:
    QString m_previous;
    QTemporaryDir m_dir;
};

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    return writeFile(path, [&bytes] { return bytes; });
}

inline QByteArray readBytes(const QString &path)
{
    QByteArray bytes;
    readFile(path, bytes);
    return bytes;
}

// A GBK file with the declaration the host writes.
inline bool writeGbkXml(const QString &path, const QString &body)
{
    const QString text = QStringLiteral("<?xml version = \"1.0\" encoding = \"GBK\"?>\n") + body;
    return writeBytes(path, QTextCodec::codecForName("GBK")->fromUnicode(text));
}

// Hands the next modal dialog to `act` once it runs; a dialog `act` leaves open is rejected,
// so that no test waits on it.
inline void onNextModal(const std::function<void(QDialog *)> &act)
{
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        act(dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    timer->start(10);
}
