// Language files and text lookup. Texts live per context (the host's "Tessel" or a plug-in's
// base name) in lang/<context>/<name>.lang; lang/<context>/index.config names the current one.
#pragma once

#include "widgetkit/sys_xml_document.h"

#include <QList>
#include <QMetaType>
#include <QString>

#include <map>
#include <memory>

// One language of a context, as listed to the user.
struct LANG_INFO {
    bool isCurrent = false;
    QString name;     // base name of the *.lang file
    QString dispName; // the root's "name" attribute
    QString path;     // path of the file
};
Q_DECLARE_METATYPE(LANG_INFO)

// Registers LANG_INFO with the meta-type system (idempotent).
void registerLangInfoType();

// Working directory + "/lang".
QString langDir();
// Path of the language index of a context.
QString langIndexPath(const QString &context);
// Path of one language file of a context.
QString langFilePath(const QString &context, const QString &name);

// Whether the context already has a language file of that name (ignoring case, as the
// current language is matched).
bool langExists(const QString &context, const QString &name);

// Loads a language file: a "lang" root (any case) carrying "name". Fills all but isCurrent.
bool readLangInfo(const QString &path, LANG_INFO &info);

class LangStore
{
public:
    LangStore();

    // The key's text in the context's current language; a key that language lacks comes from
    // English, then Chinese, and is shown as the key itself when no language has it, so that no
    // window shows an empty text. The index is read on every call; once a context's document
    // is cached it answers whatever the index says.
    QString text(const QString &context, const QString &key);
    // As text(), but an empty string where no language has the key (what a plug-in is told).
    QString find(const QString &context, const QString &key);
    // False when the context has no index; otherwise the index content (empty if unreadable or
    // not a plain language name, such as a path).
    bool currentLang(const QString &context, QString &name) const;
    // Writes the index. With `reload`, also caches the named language's document (see .cpp).
    // False only when the index cannot be written.
    bool switchLang(const QString &context, const QString &name, bool reload);
    // The readable languages of a context, sorted by file name. Always true.
    bool loadLangList(const QString &context, QList<LANG_INFO> &list) const;
    // Writes the language "name" with the display name `dispName`, holding a copy of the
    // texts of the context's current language (none when it has none), so that a translator
    // finds every key to change; `path` gets its path. An existing file is never overwritten:
    // false then.
    bool createLangFile(const QString &context, const QString &name, const QString &dispName,
                        QString &path) const;

    // The path of the document cached for the context, empty when none is.
    QString cachedPath(const QString &context) const;

private:
    struct LangDoc {
        QString path;
        SysXmlDocument doc;
    };
    static std::unique_ptr<LangDoc> loadDoc(const QString &path);
    // The text of `key` in the current language's document; false when it lacks the key.
    bool lookupCurrent(const QString &context, const QString &key, QString &text);
    // The text of `key` in the context's language `name`, loaded once and kept.
    bool lookupFallback(const QString &context, const QString &name, const QString &key,
                        QString &text);

    std::map<QString, std::unique_ptr<LangDoc>> m_docs;
    // Fallback languages by context and name; null where the file does not load.
    std::map<std::pair<QString, QString>, std::unique_ptr<LangDoc>> m_fallbacks;
};
