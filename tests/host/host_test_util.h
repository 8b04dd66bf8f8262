// Helpers shared by the host tests: a temporary working folder and small file writers.
#pragma once

#include "common/utils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextCodec>

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

// Copies a folder with everything in it.
inline void copyFolder(const QString &from, const QString &to)
{
    QDir().mkpath(to);
    for (const QFileInfo &fi : QDir(from).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        if (fi.isDir())
            copyFolder(fi.absoluteFilePath(), to + QLatin1Char('/') + fi.fileName());
        else
            QFile::copy(fi.absoluteFilePath(), to + QLatin1Char('/') + fi.fileName());
    }
}
