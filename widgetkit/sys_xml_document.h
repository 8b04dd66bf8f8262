// A DOM document plus the file it was loaded from. Files are read as raw bytes and written in
// text mode; the character encoding is the one the document's "xml" declaration names (or its
// byte order mark, for UTF-16 and UTF-32).
#pragma once

#include <QDomDocument>
#include <QString>

class SysXmlDocument
{
public:
    // What a loaded file may cost. Language, setting and template files are read whole into a
    // DOM, which costs about 200 bytes per node and 500 per attribute, so these bound a load to
    // a few tens of MB and a fraction of a second. The shipped files hold a few hundred nodes;
    // a setting tree of 5,000 parameters still fits.
    // Deepest element nesting (the root is level 1). Language keys nest a handful of levels and
    // setting trees a few dozen; the readers recurse once per level.
    static constexpr int kMaxDepth = 64;
    // Largest file read.
    static constexpr qint64 kMaxFileSize = 4 * 1024 * 1024;
    // Most nodes: elements, and the texts, comments, instructions and CDATA sections among them.
    static constexpr int kMaxNodes = 40000;
    // Most attributes in the whole file, and on one element (a setting item has seven).
    static constexpr int kMaxAttributes = 40000;
    static constexpr int kMaxElementAttributes = 256;

    // Reads and parses the whole file (no namespace processing). False when the file is not a
    // regular file of at most kMaxFileSize bytes, breaks one of the limits above, holds a
    // document type declaration (whose entities could multiply its content), does not parse or
    // yields an empty document; the document is then left as it was, errorString() says why,
    // naming the file and the limit, and the same is written once as a warning (category
    // "tessel.xml"). A file that is
    // refused for a limit is refused after reading no more than it takes to see that.
    bool load(const QString &file);
    // The same over bytes already read; the file name is left alone and not warned about.
    bool setContent(const QByteArray &content);
    // Why the last load() or setContent() failed (empty after a success).
    const QString &errorString() const { return m_error; }
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
    bool parse(const QString &text);

    QDomDocument m_doc;
    QString m_fileName;
    QString m_error;
};
