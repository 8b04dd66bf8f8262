#include "widgetkit/sys_xml_document.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>
#include <QXmlStreamReader>

namespace {
// True when the bytes are well-formed XML whose elements nest at most `limit` deep. The stream
// reader keeps no stack of its own, so any depth is checked in bounded stack space.
bool withinDepth(const QByteArray &content, int limit)
{
    QXmlStreamReader reader(content);
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (++depth > limit)
                return false;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
    return !reader.hasError();
}
} // namespace

bool SysXmlDocument::load(const QString &file)
{
    const QFileInfo info(file);
    // A folder, FIFO or device is no setting file (a FIFO would block the open for ever).
    if (!info.isFile() || info.size() > kMaxFileSize)
        return false;
    QFile f(file);
    // Raw bytes: text mode would drop every 0x0D byte, also those inside UTF-16 characters.
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray content = f.readAll();
    f.close();
    if (content.size() > kMaxFileSize || !setContent(content))
        return false;
    m_fileName = file;
    return true;
}

bool SysXmlDocument::setContent(const QByteArray &content)
{
    if (!withinDepth(content, kMaxDepth))
        return false;
    QDomDocument doc;
    // The raw bytes go to the parser so that it decodes them as the declaration says.
    if (!doc.setContent(content, false) || doc.isNull() || doc.documentElement().isNull())
        return false;
    // The parser rewrites the declaration as version='1.0' encoding='...'; put back the
    // host's own spelling so that a file saved again keeps its first line.
    QDomNode first = doc.firstChild();
    if (first.isProcessingInstruction() && first.nodeName() == QLatin1String("xml")) {
        static const QRegularExpression enc(
            QStringLiteral("encoding\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)')"));
        const QRegularExpressionMatch m = enc.match(first.nodeValue());
        if (m.hasMatch()) {
            const QString name = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
            first.setNodeValue(QStringLiteral("version = \"1.0\" encoding = \"%1\"").arg(name));
        }
    }
    m_doc = doc;
    return true;
}

bool SysXmlDocument::save(const QString &file) const
{
    // A temporary file in the same folder is renamed over the old one only after every byte
    // is written and the file is closed, so a failed save leaves the old file as it was.
    QSaveFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream stream(&f);
    m_doc.save(stream, 1, QDomNode::EncodingFromDocument);
    stream.flush();
    if (stream.status() != QTextStream::Ok) {
        f.cancelWriting();
        return false;
    }
    return f.commit();
}

bool SysXmlDocument::saveAgain() const
{
    return save(m_fileName);
}

void SysXmlDocument::addDeclaration(const QString &encoding)
{
    m_doc.appendChild(m_doc.createProcessingInstruction(
        QStringLiteral("xml"),
        QStringLiteral("version = \"1.0\" encoding = \"%1\"").arg(encoding)));
}

void SysXmlDocument::clear()
{
    m_doc = QDomDocument();
    m_fileName.clear();
}
