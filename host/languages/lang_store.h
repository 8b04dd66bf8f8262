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
    // is cached it answers whatever the index says. A language file that fails to load is not
    // read again until it changes on disk, the index names another language or switchLang()
    // is called for the context: a broken or hostile file costs one read, not one per lookup.
    QString text(const QString &context, const QString &key);
    // As text(), but an empty string where no language has the key (what a plug-in is told).
    QString find(const QString &context, const QString &key);
    // False when the context has no index; otherwise the index content (empty if unreadable or
    // not a plain language name, such as a path).
    bool currentLang(const QString &context, QString &name) const;
    // Writes the index. With `reload`, also caches the named language's document (see .cpp).
    // Either way the context's current language is tried again at the next lookup, even if it
    // failed before. False only when the index cannot be written.
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
    // The path of the context's current language file that failed to load and is not read
    // again until it changes or the language is switched; empty when there is none.
    QString failedPath(const QString &context) const;

private:
    struct LangDoc {
        QString path;
        SysXmlDocument doc;
    };
    // What tells that a file changed on disk: writing or replacing it changes its size or one
    // of its times.
    struct FileStamp {
        bool exists = false;
        qint64 size = -1;
        qint64 modified = 0; // ms since the epoch
        qint64 changed = 0;  // metadata change, ms since the epoch
        bool operator==(const FileStamp &o) const
        {
            return exists == o.exists && size == o.size && modified == o.modified
                   && changed == o.changed;
        }
    };
    // The file that last failed to load in a slot, as it was before that load; empty path when
    // none did.
    struct FailedLoad {
        QString path;
        FileStamp stamp;
    };
    // A fallback language: its document, or why there is none.
    struct Fallback {
        std::unique_ptr<LangDoc> doc;
        FailedLoad failed;
    };
    static FileStamp stampOf(const QString &path);
    static std::unique_ptr<LangDoc> loadDoc(const QString &path);
    // loadDoc(), except that a file that failed for `failed` and has not changed since is not
    // read again. A failure is noted in `failed`, a success clears it.
    static std::unique_ptr<LangDoc> loadUnlessFailed(const QString &path, FailedLoad &failed);
    // The text of `key` in the current language's document; false when it lacks the key.
    bool lookupCurrent(const QString &context, const QString &key, QString &text);
    // The text of `key` in the context's language `name`, loaded once and kept.
    bool lookupFallback(const QString &context, const QString &name, const QString &key,
                        QString &text);

    std::map<QString, std::unique_ptr<LangDoc>> m_docs;
    // The current language's file that failed, by context (only while none is cached).
    std::map<QString, FailedLoad> m_failed;
    // Fallback languages by context and name.
    std::map<std::pair<QString, QString>, Fallback> m_fallbacks;
};
