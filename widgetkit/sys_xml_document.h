// A DOM document plus the file it was loaded from. Files are read as raw bytes and written in
// text mode; the character encoding is the one the document's "xml" declaration names.
#pragma once

#include <QDomDocument>
#include <QString>

class SysXmlDocument
{
public:
    // Deepest element nesting a loaded file may have (the root is level 1). Language keys nest
    // a handful of levels and setting trees a few dozen; the DOM parser, its writer and the
    // readers on top recurse once per level, so deeper files are refused before parsing.
    static constexpr int kMaxDepth = 64;
    // Largest file load() reads; language, setting and template files are far smaller.
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

    // Reads and parses the whole file (no namespace processing). False when the file is not a
    // regular file of at most kMaxFileSize bytes, nests deeper than kMaxDepth, does not parse or
    // yields an empty document; the document is then left as it was.
    bool load(const QString &file);
    // The same over bytes already read; the file name is left alone.
    bool setContent(const QByteArray &content);
    // Writes the document with an indent of one blank through a temporary file in the same
    // folder that replaces `file` once complete. False when the file cannot be written in
    // full; `file` is then left as it was.
    bool save(const QString &file) const;
    // save() to the file of the last successful load() (or setFileName()).
    bool saveAgain() const;

    // Appends the declaration "version = \"1.0\" encoding = \"<encoding>\"".
    void addDeclaration(const QString &encoding);
    QDomElement createElement(const QString &tag) { return m_doc.createElement(tag); }
    QDomNode appendChild(const QDomNode &node) { return m_doc.appendChild(node); }
    QDomElement documentElement() const { return m_doc.documentElement(); }
    // The document as text with an indent of one blank.
    QString toText() const { return m_doc.toString(1); }

    bool isNull() const { return m_doc.isNull(); }
    void clear();
    QDomDocument &dom() { return m_doc; }
    const QDomDocument &dom() const { return m_doc; }
    const QString &fileName() const { return m_fileName; }
    void setFileName(const QString &file) { m_fileName = file; }

private:
    QDomDocument m_doc;
    QString m_fileName;
};
