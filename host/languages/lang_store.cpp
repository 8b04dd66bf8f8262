#include "host/languages/lang_store.h"

#include "common/utils.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

void registerLangInfoType()
{
    static const int id = qRegisterMetaType<LANG_INFO>("LANG_INFO");
    Q_UNUSED(id);
}

QString langDir()
{
    return QStringLiteral("%1/%2").arg(QDir::currentPath(), QStringLiteral("lang"));
}

QString langIndexPath(const QString &context)
{
    return QStringLiteral("%1/%2/index.config").arg(langDir(), context);
}

QString langFilePath(const QString &context, const QString &name)
{
    return QStringLiteral("%1/%2/%3.lang").arg(langDir(), context, name);
}

bool langExists(const QString &context, const QString &name)
{
    const QDir dir(QStringLiteral("%1/%2").arg(langDir(), context));
    const QFileInfoList entries = dir.entryInfoList(
        QStringList{QStringLiteral("*.lang")},
        QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.completeBaseName().compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return QFileInfo::exists(langFilePath(context, name));
}

namespace {
// The root of a language document, or a null element when it is not a language.
QDomElement langRoot(const SysXmlDocument &doc)
{
    const QDomElement root = doc.documentElement();
    if (root.isNull() || root.tagName().compare(QLatin1String("lang"), Qt::CaseInsensitive) != 0
        || !root.hasAttribute(QStringLiteral("name")))
        return QDomElement();
    return root;
}

// Longest index content taken for a language name (a file name is at most 255 bytes).
constexpr qint64 kMaxIndexSize = 255;

// A language is named by a file base name: an index holding a path ("../x", "/etc/x") or
// nothing but dots names no language, so nothing outside the context's folder is ever read.
bool isLanguageName(const QString &name)
{
    return !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))
           && name != QLatin1String(".") && name != QLatin1String("..");
}

// The index names the language as UTF-8 bytes up to the first NUL. An index that is not a
// regular file, is too long to hold a name or holds a path reads as no name.
QString readIndex(const QString &indexPath)
{
    const QFileInfo info(indexPath);
    if (!info.isFile() || info.size() > kMaxIndexSize)
        return QString();
    QByteArray bytes;
    if (!readFile(indexPath, bytes) || bytes.size() > kMaxIndexSize)
        return QString();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    const QString name = QString::fromUtf8(bytes);
    return isLanguageName(name) ? name : QString();
}
} // namespace

LangStore::FileStamp LangStore::stampOf(const QString &path)
{
    const QFileInfo info(path);
    FileStamp stamp;
    stamp.exists = info.exists();
    if (stamp.exists) {
        stamp.size = info.size();
        stamp.modified = info.lastModified().toMSecsSinceEpoch();
        stamp.changed = info.metadataChangeTime().toMSecsSinceEpoch();
    }
    return stamp;
}

std::unique_ptr<LangStore::LangDoc> LangStore::loadUnlessFailed(const QString &path,
                                                                FailedLoad &failed)
{
    // Taken before the read, so that a change made while it runs is seen at the next lookup.
    const FileStamp stamp = stampOf(path);
    if (failed.path == path && failed.stamp == stamp)
        return nullptr;
    auto doc = loadDoc(path);
    failed = doc ? FailedLoad() : FailedLoad{path, stamp};
    return doc;
}

std::unique_ptr<LangStore::LangDoc> LangStore::loadDoc(const QString &path)
{
    auto doc = std::make_unique<LangDoc>();
    if (!doc->doc.load(path) || langRoot(doc->doc).isNull())
        return nullptr;
    doc->path = path;
    return doc;
}

bool readLangInfo(const QString &path, LANG_INFO &info)
{
    SysXmlDocument doc;
    if (!doc.load(path))
        return false;
    const QDomElement root = langRoot(doc);
    if (root.isNull())
        return false;
    info.dispName = root.attribute(QStringLiteral("name"));
    info.name = QFileInfo(path).baseName();
    info.path = path;
    return true;
}

LangStore::LangStore()
{
    registerLangInfoType();
}

namespace {
// The element of `key` below the language root; a null element when the key is not there.
QDomElement keyElement(const SysXmlDocument &doc, const QString &key)
{
    QDomElement current = langRoot(doc);
    if (current.isNull())
        return QDomElement();
    const QStringList parts = key.split(QLatin1Char('/'), Qt::KeepEmptyParts);
    for (const QString &part : parts) {
        if (part.isEmpty())
            return QDomElement();
        QDomElement next;
        for (QDomNode n = current.firstChild(); !n.isNull(); n = n.nextSibling()) {
            const QDomElement e = n.toElement();
            if (!e.isNull() && e.tagName().compare(part, Qt::CaseInsensitive) == 0) {
                next = e;
                break;
            }
        }
        if (next.isNull())
            return QDomElement();
        current = next;
    }
    return current;
}

// A key's text: the element's "name"; an element without one, or with an empty one, has none.
bool keyText(const SysXmlDocument &doc, const QString &key, QString &text)
{
    const QDomElement e = keyElement(doc, key);
    if (e.isNull())
        return false;
    text = e.attribute(QStringLiteral("name"));
    return !text.isEmpty();
}

// Where a key is missing, these languages answer, in this order.
const char *const kFallbackLanguages[] = {"en", "zh"};
} // namespace

bool LangStore::lookupCurrent(const QString &context, const QString &key, QString &text)
{
    const QString indexPath = langIndexPath(context);
    if (!QFileInfo::exists(indexPath))
        return false;
    const QString name = readIndex(indexPath);

    auto it = m_docs.find(context);
    if (it == m_docs.end()) {
        auto doc = loadUnlessFailed(langFilePath(context, name), m_failed[context]);
        if (!doc)
            return false;
        m_failed.erase(context);
        it = m_docs.emplace(context, std::move(doc)).first;
    }
    return keyText(it->second->doc, key, text);
}

bool LangStore::lookupFallback(const QString &context, const QString &name, const QString &key,
                               QString &text)
{
    Fallback &fallback = m_fallbacks[std::make_pair(context, name)];
    if (!fallback.doc)
        fallback.doc = loadUnlessFailed(langFilePath(context, name), fallback.failed);
    return fallback.doc && keyText(fallback.doc->doc, key, text);
}

QString LangStore::find(const QString &context, const QString &key)
{
    QString text;
    if (lookupCurrent(context, key, text))
        return text;
    for (const char *name : kFallbackLanguages)
        if (lookupFallback(context, QLatin1String(name), key, text))
            return text;
    return QString();
}

QString LangStore::text(const QString &context, const QString &key)
{
    const QString found = find(context, key);
    return found.isEmpty() ? key : found;
}

bool LangStore::currentLang(const QString &context, QString &name) const
{
    const QString indexPath = langIndexPath(context);
    if (!QFileInfo::exists(indexPath))
        return false;
    name = readIndex(indexPath);
    return true;
}

bool LangStore::switchLang(const QString &context, const QString &name, bool reload)
{
    const QString indexPath = langIndexPath(context);
    const QByteArray bytes = name.toUtf8();
    if (!writeFile(indexPath, [&bytes] { return bytes; }))
        return false;
    // A switch is asked for: whatever failed before is tried again.
    m_failed.erase(context);
    if (!reload)
        return true;

    const QString path = langFilePath(context, name);
    auto it = m_docs.find(context);
    if (it != m_docs.end()
        && QFileInfo(it->second->path).baseName().compare(name, Qt::CaseInsensitive) == 0)
        return true; // already holds this language: nothing is re-read
    auto doc = loadUnlessFailed(path, m_failed[context]);
    if (doc) {
        m_failed.erase(context);
        if (it == m_docs.end())
            m_docs.emplace(context, std::move(doc));
        else
            it->second = std::move(doc);
    } else if (it != m_docs.end()) {
        m_docs.erase(it);
    }
    return true;
}

bool LangStore::loadLangList(const QString &context, QList<LANG_INFO> &list) const
{
    QString current;
    currentLang(context, current);
    const QDir dir(QStringLiteral("%1/%2").arg(langDir(), context));
    const QFileInfoList entries = dir.entryInfoList(
        QStringList{QStringLiteral("*.lang")},
        QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::DirsFirst);
    for (const QFileInfo &entry : entries) {
        LANG_INFO info;
        if (!readLangInfo(entry.absoluteFilePath(), info))
            continue;
        info.isCurrent = info.name.compare(current, Qt::CaseInsensitive) == 0;
        list.append(info);
    }
    return true;
}

bool LangStore::createLangFile(const QString &context, const QString &name,
                               const QString &dispName, QString &path) const
{
    SysXmlDocument doc;
    doc.addDeclaration(QStringLiteral("GBK"));
    QDomElement root = doc.createElement(QStringLiteral("lang"));
    root.setAttribute(QStringLiteral("name"), dispName);
    doc.appendChild(root);
    QString current;
    if (currentLang(context, current) && !current.isEmpty()) {
        if (const auto source = loadDoc(langFilePath(context, current))) {
            const QDomElement from = langRoot(source->doc);
            for (QDomNode n = from.firstChild(); !n.isNull(); n = n.nextSibling())
                root.appendChild(doc.dom().importNode(n, true));
        }
    }
    path = langFilePath(context, name);
    const QFileInfo existing(path);
    if (existing.exists() || existing.isSymLink())
        return false;
    if (!makePath(QFileInfo(path).absolutePath()))
        return false;
    return doc.save(path);
}

QString LangStore::cachedPath(const QString &context) const
{
    const auto it = m_docs.find(context);
    return it == m_docs.end() ? QString() : it->second->path;
}

QString LangStore::failedPath(const QString &context) const
{
    const auto it = m_failed.find(context);
    return it == m_failed.end() ? QString() : it->second.path;
}
