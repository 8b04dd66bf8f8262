#include "host/packages/package_format.h"

#include <QTextCodec>

namespace Packages {

namespace {

QTextCodec *gbk()
{
    static QTextCodec *codec = QTextCodec::codecForName("GBK");
    return codec;
}

void putInt32(QByteArray &out, qint32 value)
{
    const quint32 v = quint32(value);
    const char bytes[4] = {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff),
                           char((v >> 24) & 0xff)};
    out.append(bytes, 4);
}

qint32 getInt32(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return qint32(quint32(u[0]) | quint32(u[1]) << 8 | quint32(u[2]) << 16 | quint32(u[3]) << 24);
}

PackageMessage error(const char *key, QVector<QVariant> args = {})
{
    return PackageMessage{PackageMessage::Error, QLatin1String(key), std::move(args)};
}

// Reads a length field at `pos`. Returns false with `error` set when the field is cut short,
// negative or longer than what follows it.
bool readLength(const QByteArray &package, int entryOffset, int pos, qint32 &value,
                PackageMessage &err)
{
    const int left = package.size() - pos;
    if (left < 4) {
        err = error("importPkg/entryTruncatedFmt", {entryOffset});
        return false;
    }
    value = getInt32(package.constData() + pos);
    const int after = left - 4;
    if (value < 0 || value > after) {
        err = error("importPkg/badLengthFmt", {entryOffset, int(value), after});
        return false;
    }
    return true;
}

} // namespace

bool encodePath(const QString &path, QByteArray &bytes)
{
    bytes = gbk()->fromUnicode(path);
    return gbk()->toUnicode(bytes) == path;
}

bool decodePath(const QByteArray &bytes, QString &path)
{
    path = gbk()->toUnicode(bytes);
    return gbk()->fromUnicode(path) == bytes;
}

bool isPlainRelativePath(const QString &path)
{
    if (path.isEmpty())
        return false;
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == QLatin1Char('\\'))
            return false;
    }
    const QStringList parts = path.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}

bool relativeToWorkDir(const QString &absolutePath, const QString &workDir, QString &relative)
{
    const QString prefix = workDir.endsWith(QLatin1Char('/')) ? workDir : workDir + QLatin1Char('/');
    if (!absolutePath.startsWith(prefix))
        return false;
    relative = absolutePath.mid(prefix.size());
    return isPlainRelativePath(relative);
}

QString displayPath(const QByteArray &rawPath)
{
    QString text = gbk()->toUnicode(rawPath);
    for (QChar &c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('?');
    }
    return text;
}

bool appendEntry(QByteArray &package, const QByteArray &rawPath, const QByteArray &data)
{
    const qint64 grown = qint64(package.size()) + 8 + rawPath.size() + data.size();
    if (grown > kMaxPackageSize)
        return false;
    package.reserve(int(grown));
    putInt32(package, rawPath.size());
    package.append(rawPath);
    putInt32(package, data.size());
    package.append(data);
    return true;
}

bool parsePackage(const QByteArray &package, QVector<PackageEntry> &entries, PackageMessage &err)
{
    entries.clear();
    if (package.isEmpty()) {
        err = error("importPkg/readFileHeaderFailed");
        return false;
    }
    int pos = 0;
    while (pos < package.size()) {
        PackageEntry entry;
        entry.offset = pos;
        qint32 nameLength = 0;
        if (!readLength(package, pos, pos, nameLength, err))
            return false;
        entry.rawPath = package.mid(pos + 4, nameLength);
        const QString shown = displayPath(entry.rawPath);
        if (!decodePath(entry.rawPath, entry.path) || !isPlainRelativePath(entry.path)
            || entry.rawPath.contains('\0')) {
            err = error("importPkg/unsafePathFmt", {shown});
            return false;
        }
        const int dataField = pos + 4 + nameLength;
        if (dataField == package.size()) {
            err = error("importPkg/readFileDataHeaderFailFmt", {shown});
            return false;
        }
        qint32 dataLength = 0;
        if (!readLength(package, pos, dataField, dataLength, err))
            return false;
        entry.dataOffset = dataField + 4;
        entry.dataSize = dataLength;
        entries.push_back(entry);
        pos = entry.dataOffset + dataLength; // never past the end: checked by readLength
    }
    return true;
}

} // namespace Packages
