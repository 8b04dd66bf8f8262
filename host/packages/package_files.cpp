#include "host/packages/package_files.h"

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

// Reads a whole source file of at most `limit` bytes.
bool readSource(const QString &path, qint64 limit, QByteArray &data, bool &tooLarge)
{
    tooLarge = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (file.size() > limit) {
        tooLarge = true;
        return false;
    }
    data = file.readAll();
    return file.error() == QFileDevice::NoError;
}

} // namespace

bool writePackage(const QStringList &packList, const QString &packagePath, PackageMessage *error)
{
    const QString workDir = QDir::currentPath();
    QSaveFile out(packagePath);
    if (!out.open(QIODevice::WriteOnly)) {
        fail(error, "genPkg/cannotWriteFmt", packagePath);
        return false;
    }
    qint64 total = 0;
    for (const QString &file : packList) {
        QString relative;
        QByteArray rawPath;
        if (!relativeToWorkDir(file, workDir, relative) || !encodePath(relative, rawPath)) {
            fail(error, "genPkg/fileIsNotUnderWorkDirFmt", file);
            out.cancelWriting();
            return false;
        }
        QByteArray data;
        bool tooLarge = false;
        if (!readSource(file, kMaxPackageSize - total, data, tooLarge)) {
            fail(error, tooLarge ? "genPkg/packTooLargeFmt" : "genPkg/cannotReadFmt", file);
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
    if (!out.commit()) {
        fail(error, "genPkg/cannotWriteFmt", packagePath);
        return false;
    }
    return true;
}

bool readPackageFile(const QString &packagePath, QByteArray &bytes, PackageMessage *error)
{
    QFile file(packagePath);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = PackageMessage{PackageMessage::Error, QStringLiteral("importPkg/plugin/canNotOpen"), {}};
        return false;
    }
    if (file.size() > kMaxPackageSize) {
        fail(error, "importPkg/packageTooLargeFmt", packagePath);
        return false;
    }
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError || bytes.size() != file.size()) {
        if (error)
            *error = PackageMessage{PackageMessage::Error, QStringLiteral("importPkg/plugin/canNotOpen"), {}};
        return false;
    }
    return true;
}

bool loadTemplate(const QString &templatePath, QStringList &files)
{
    SysXmlDocument doc;
    if (!doc.load(templatePath))
        return false;
    const QDomElement root = doc.documentElement();
    if (root.tagName() != kRoot)
        return false;
    const QString workDir = QDir::currentPath();
    QStringList loaded;
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QDomElement element = node.toElement();
        if (element.isNull() || element.tagName() != kFile)
            return false;
        const QString relative = element.attribute(kValue);
        if (!isPlainRelativePath(relative))
            return false;
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
        if (!relativeToWorkDir(file, workDir, relative))
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
