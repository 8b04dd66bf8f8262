#include "host/packages/package_files.h"

#include "host/packages/signal_guard_p.h"
#include "widgetkit/sys_regular_file.h"
#include "widgetkit/sys_xml_document.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <cstdio>

namespace Packages {

namespace {

const QString kRoot = QStringLiteral("ROOT");
const QString kFile = QStringLiteral("FILE");
const QString kValue = QStringLiteral("VALUE");

void fail(PackageMessage *error, const char *key, const QString &arg)
{
    if (error)
        *error = PackageMessage{PackageMessage::Error, QLatin1String(key), {arg}};
}

// Reads a file to pack: a regular file of at most `limit` bytes that is, links resolved,
// inside the working folder (as an installation would write it).
bool readSource(const QString &path, const QString &canonicalWorkDir, qint64 limit, QByteArray &data,
                PackageMessage *error)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty()) {
        fail(error, "genPkg/cannotReadFmt", path);
        return false;
    }
    if (!canonical.startsWith(canonicalWorkDir + QLatin1Char('/'))) {
        fail(error, "genPkg/linkLeavesWorkDirFmt", path);
        return false;
    }
    SysRegularFile::Status status;
    if (SysRegularFile::readFile(canonical, limit, data, &status))
        return true;
    fail(error, status == SysRegularFile::NotRegular ? "genPkg/notAFileFmt"
                : status == SysRegularFile::TooLarge ? "genPkg/packTooLargeFmt"
                                                     : "genPkg/cannotReadFmt",
         path);
    return false;
}

} // namespace

bool writePackage(const QStringList &packList, const QString &packagePath, PackageMessage *error)
{
    const QString workDir = QDir::currentPath();
    const QString canonicalWorkDir = QFileInfo(workDir).canonicalFilePath();
    // Interrupted, the half-written package goes before the process ends.
    Internal::SignalGuard guard;
    QSaveFile out(packagePath);
    if (!out.open(QIODevice::WriteOnly)) {
        fail(error, "genPkg/cannotWriteFmt", packagePath);
        return false;
    }
    qint64 total = 0;
    for (const QString &file : packList) {
        if (Internal::SignalGuard::caught()) {
            fail(error, "genPkg/interruptedFmt", packagePath);
            out.cancelWriting();
            return false;
        }
        QString relative;
        QByteArray rawPath;
        if (!relativeToWorkDir(file, workDir, relative) || !encodePath(relative, rawPath)) {
            fail(error, "genPkg/fileIsNotUnderWorkDirFmt", file);
            out.cancelWriting();
            return false;
        }
        QByteArray data;
        if (!readSource(file, canonicalWorkDir, kMaxPackageSize - total, data, error)) {
            out.cancelWriting();
            return false;
        }
        QByteArray entry;
        if (!appendEntry(entry, rawPath, data) || total + entry.size() > kMaxPackageSize) {
            fail(error, "genPkg/packTooLargeFmt", file);
            out.cancelWriting();
            return false;
        }
        total += entry.size();
        if (out.write(entry) != entry.size()) {
            fail(error, "genPkg/cannotWriteFmt", packagePath);
            out.cancelWriting();
            return false;
        }
    }
    if (Internal::SignalGuard::caught()) {
        fail(error, "genPkg/interruptedFmt", packagePath);
        out.cancelWriting();
        return false;
    }
    if (!out.commit()) {
        fail(error, "genPkg/cannotWriteFmt", packagePath);
        return false;
    }
    return true;
}

bool readPackageFile(const QString &packagePath, QByteArray &bytes, PackageMessage *error)
{
    // A device, FIFO or folder is refused before a byte is read; a file is read no further than
    // the size it had when opened.
    SysRegularFile::Status status;
    if (SysRegularFile::readFile(packagePath, kMaxPackageSize, bytes, &status))
        return true;
    if (status == SysRegularFile::NotRegular)
        fail(error, "importPkg/notAFileFmt", packagePath);
    else if (status == SysRegularFile::TooLarge)
        fail(error, "importPkg/packageTooLargeFmt", packagePath);
    else if (error)
        *error = PackageMessage{PackageMessage::Error, QStringLiteral("importPkg/plugin/canNotOpen"), {}};
    return false;
}

bool loadTemplate(const QString &templatePath, QStringList &files, QString *why)
{
    SysXmlDocument doc;
    if (!doc.load(templatePath)) {
        if (why)
            *why = doc.errorString();
        return false;
    }
    auto refuse = [&](const QString &what) {
        if (why)
            *why = QStringLiteral("%1: %2").arg(templatePath, what);
        return false;
    };
    const QDomElement root = doc.documentElement();
    if (root.tagName() != kRoot)
        return refuse(QStringLiteral("the root element is not ROOT"));
    const QString workDir = QDir::currentPath();
    QStringList loaded;
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QDomElement element = node.toElement();
        if (element.isNull() || element.tagName() != kFile)
            return refuse(QStringLiteral("ROOT holds something other than FILE elements (line %1)")
                              .arg(node.lineNumber()));
        const QString relative = element.attribute(kValue);
        if (!isPlainRelativePath(relative))
            return refuse(QStringLiteral("the VALUE \"%1\" is not a plain path inside the working "
                                         "folder (line %2)").arg(relative.left(200)).arg(node.lineNumber()));
        loaded << QStringLiteral("%1/%2").arg(workDir, relative);
    }
    files = loaded;
    return true;
}

bool saveTemplate(const QStringList &packList, const QString &templatePath)
{
    const QString workDir = QDir::currentPath();
    SysXmlDocument doc;
    doc.addDeclaration(QStringLiteral("GBK"));
    QDomElement root = doc.createElement(kRoot);
    doc.appendChild(root);
    for (const QString &file : packList) {
        QString relative;
        QByteArray gbk;
        // A path GBK cannot hold would come back changed.
        if (!relativeToWorkDir(file, workDir, relative) || !encodePath(relative, gbk))
            return false;
        QDomElement element = doc.createElement(kFile);
        element.setAttribute(kValue, relative);
        root.appendChild(element);
    }

    // Written beside the target and renamed over it.
    const QFileInfo target(templatePath);
    QTemporaryFile temp(target.absolutePath() + QLatin1Char('/') + target.fileName()
                        + QStringLiteral(".XXXXXX"));
    if (!temp.open())
        return false;
    temp.close();
    const QFileDevice::Permissions permissions =
        target.exists() ? QFile::permissions(templatePath)
                        : QFileDevice::ReadOwner | QFileDevice::WriteOwner
                              | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (!doc.save(temp.fileName()) || !QFile::setPermissions(temp.fileName(), permissions))
        return false;
    if (std::rename(QFile::encodeName(temp.fileName()).constData(),
                    QFile::encodeName(templatePath).constData()) != 0)
        return false;
    temp.setAutoRemove(false);
    return true;
}

} // namespace Packages
