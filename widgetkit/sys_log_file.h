// Log file writer: "time   [TAG]   message" lines, flushed one by one.
#pragma once

#include <QFile>

#include <cstdarg>

class SysLogFile : public QFile
{
    Q_OBJECT
public:
    SysLogFile() = default;
    ~SysLogFile() override;

    // Creates the folder if missing and opens the file write-only, truncated.
    bool openLog(const QString &path);
    // Writes "%1   [%2]   %3\n": local time with milliseconds, the level tag ("DBG", "ERR",
    // "WAR", "INF" for 0..3) and the formatted message, as UTF-8. False when the file is not
    // open, the level is unknown, or the line could not be written and flushed.
    bool writeLine(int level, const char *format, ...) __attribute__((format(printf, 3, 4)));
    // writeLine at level 3 ("INF").
    bool writeInfo(const char *format, ...) __attribute__((format(printf, 2, 3)));
    // Writes the text (or a default separator when empty) and a line end.
    bool writeSeparator(const QString &text = QString());
    // Renames the file to "<folder>/<newBaseName>.<old suffix>" and reopens it for appending.
    // On failure the old file is reopened for appending, so logging goes on, and false is
    // returned.
    bool renameLog(const QString &newBaseName);

private:
    bool writeFormatted(int level, const char *format, va_list args);
};
