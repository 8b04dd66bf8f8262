// Table exporters: fill headers and rows, then write them to a file in one format.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class SysExportTableBase
{
public:
    virtual ~SysExportTableBase() = default;
    // Writes the table. False only when the file cannot be opened.
    virtual bool exportToFile(const QString &fileName) = 0;

    QStringList headers;
    QList<QStringList> rows;
    QString color = QStringLiteral("#409eff");
};

// Comma-separated lines (headers first, always), no quoting or escaping, local 8-bit text.
class SysCsvTable : public SysExportTableBase
{
public:
    bool exportToFile(const QString &fileName) override;
};

// A full-width HTML table in the exporter colour, every second data row banded with its
// lightest shade; rows without cells are skipped but still count for the banding.
class SysHtmlTable : public SysExportTableBase
{
public:
    bool exportToFile(const QString &fileName) override;
};
