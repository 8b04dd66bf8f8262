#include "widgetkit/sys_table_export.h"

#include "widgetkit/sys_style.h"

#include <QFile>

namespace {

// Writes whole byte blocks and remembers whether any came up short, so that a full disk is
// reported instead of a silently truncated export.
class Writer
{
public:
    explicit Writer(QFile &file) : m_file(file) {}
    void operator()(const QByteArray &bytes)
    {
        if (m_file.write(bytes) != bytes.size())
            m_ok = false;
    }
    bool finish()
    {
        if (!m_file.flush())
            m_ok = false;
        m_file.close();
        return m_ok;
    }

private:
    QFile &m_file;
    bool m_ok = true;
};

} // namespace

bool SysCsvTable::exportToFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    Writer write(file);
    write((headers.join(QLatin1Char(',')) + QLatin1Char('\n')).toLocal8Bit());
    for (const QStringList &row : rows)
        write((row.join(QLatin1Char(',')) + QLatin1Char('\n')).toLocal8Bit());
    return write.finish();
}

bool SysHtmlTable::exportToFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    Writer write(file);
    const QString band = lightenColor(color, 0.9);
    const QByteArray cell = "<td style=\"padding:.25rem .75rem;\">";
    write("<html><head><title></title></head><body style=\"padding: 0px;margin: 0px;\">");
    write(QStringLiteral("<table border=\"%1\" style=\"width:100%;border-collapse: collapse; border: 1px solid %2;\">")
                   .arg(color, band).toUtf8());
    if (!headers.isEmpty()) {
        write(QStringLiteral("<thead><tr style=\"color: #fff;background-color: %1;\">").arg(color).toUtf8());
        write("<th style=\"padding:.25rem .75rem;\">");
        write(headers.join(QStringLiteral("</th><th style=\"padding:.25rem .75rem;\">")).toLocal8Bit());
        write("</th>");
        write("</tr></thead>");
    }
    write("<tbody>");
    for (int i = 0; i < rows.size(); ++i) {
        const QStringList &row = rows[i];
        if (row.isEmpty())
            continue;
        if (i % 2 == 1)
            write(QStringLiteral("<tr style=\"background-color:%1\">").arg(band).toUtf8() + cell);
        else
            write(QByteArray("<tr>") + cell);
        write(row.join(QStringLiteral("</td><td style=\"padding:.25rem .75rem;\">")).toLocal8Bit());
        write("</td></tr>");
    }
    write("</tbody></table>");
    write("</body></html>");
    return write.finish();
}
