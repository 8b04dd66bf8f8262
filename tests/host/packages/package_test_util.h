// Helpers of the package tests: building packages by hand and snapshots of a folder.
#pragma once

#include "host/packages/package_format.h"
#include "tests/host/host_test_util.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QMap>

namespace PackageTest {

inline QByteArray int32le(qint32 v)
{
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = char((quint32(v) >> (8 * i)) & 0xff);
    return out;
}

// An entry with lengths taken as given (they may lie).
inline QByteArray rawEntry(const QByteArray &path, const QByteArray &data)
{
    return int32le(path.size()) + path + int32le(data.size()) + data;
}

inline QByteArray package(const QVector<QPair<QString, QByteArray>> &files)
{
    QByteArray out;
    for (const auto &f : files) {
        QByteArray raw;
        Packages::encodePath(f.first, raw);
        Packages::appendEntry(out, raw, f.second);
    }
    return out;
}

// Every file and folder below `root` (links not followed) with the hash of each file's bytes
// and its mode; FIFOs, devices and sockets by their kind.
inline QMap<QString, QString> snapshot(const QString &root)
{
    QMap<QString, QString> out;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo fi = it.fileInfo();
        const QString rel = path.mid(root.size() + 1);
        if (fi.isSymLink())
            out[rel] = QStringLiteral("link ") + fi.symLinkTarget();
        else if (fi.isDir())
            out[rel] = QStringLiteral("dir");
        else if (!fi.isFile())
            out[rel] = QStringLiteral("special"); // a FIFO would block the read
        else
            out[rel] = QString::fromLatin1(
                           QCryptographicHash::hash(readBytes(path), QCryptographicHash::Sha256).toHex())
                       + QStringLiteral(" %1").arg(int(fi.permissions()), 0, 16);
    }
    return out;
}

} // namespace PackageTest
