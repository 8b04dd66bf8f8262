// Plug-in packages (*.plug): a plain concatenation of entries, each
//   int32 N, N bytes of path (GBK, relative to the working folder), int32 D, D bytes of data,
// all integers little-endian and signed. No header, no checksum, no compression.
// Everything here works on buffers and strings only (no files, no widgets).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

namespace Packages {

// A message of the host's language files ("Tessel" context): its key, its printf-style
// arguments and the log level it is reported at (1 error, 3 info).
struct PackageMessage {
    enum { Error = 1, Info = 3 };
    int level = Error;
    QString key;
    QVector<QVariant> args;
};

// One entry of a parsed package. The data stays in the package buffer.
struct PackageEntry {
    QByteArray rawPath;  // the path bytes as stored
    QString path;        // the same, decoded
    int offset = 0;      // of the entry in the package
    int dataOffset = 0;  // of its data
    int dataSize = 0;
};

// The largest package or file the 32-bit lengths allow.
constexpr qint64 kMaxPackageSize = 0x7fffffff - 64;

// Path bytes <-> text, in GBK. ASCII is unchanged. False when the text (or the bytes) does not
// survive the round trip, so that a stored path always names exactly one file.
bool encodePath(const QString &path, QByteArray &bytes);
bool decodePath(const QByteArray &bytes, QString &path);
// A path that stays inside the folder it is taken from: not empty, relative, "/"-separated, no
// empty, "." or ".." component, no backslash, no control character.
bool isPlainRelativePath(const QString &path);
// The path relative to `workDir`, when `absolutePath` lies below it and the rest is plain.
bool relativeToWorkDir(const QString &absolutePath, const QString &workDir, QString &relative);
// The path in a form fit for a message line (control characters shown as '?').
QString displayPath(const QByteArray &rawPath);

// Appends one entry. False (nothing appended) when a length does not fit in 31 bits.
bool appendEntry(QByteArray &package, const QByteArray &rawPath, const QByteArray &data);

// Reads a whole package. Every length is checked against the bytes that remain, every path must
// be plain and decodable, and the entries must end exactly at the end of the buffer. On failure
// `error` says why and `entries` holds the entries read before the fault.
bool parsePackage(const QByteArray &package, QVector<PackageEntry> &entries,
                  PackageMessage &error);

} // namespace Packages
