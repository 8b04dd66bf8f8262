// Helpers shared by the host tests: a temporary working folder and small file writers.
#pragma once

#include "common/utils.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
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

// Copies every file below `from` to the same place below `to`.
inline bool copyTreeFiles(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + file.mid(from.size());
        if (!QDir().mkpath(QFileInfo(target).absolutePath()) || !QFile::copy(file, target))
            return false;
    }
    return true;
}

// Lets windows lay themselves out and paint before a picture is taken.
inline void settleWindows()
{
    for (int i = 0; i < 10; ++i)
        QApplication::processEvents();
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

