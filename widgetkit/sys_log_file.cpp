#include "widgetkit/sys_log_file.h"

#include "common/utils.h"
#include "widgetkit/sys_table.h"

#include <QFileInfo>

#include <cstdarg>

SysLogFile::~SysLogFile()
{
    close();
}

bool SysLogFile::openLog(const QString &path)
{
    if (isOpen())
        close();
    makePath(QFileInfo(path).absolutePath());
    setFileName(path);
    return open(QIODevice::WriteOnly | QIODevice::Truncate);
}

bool SysLogFile::writeFormatted(int level, const char *format, va_list args)
{
    const QString tag = sysLogLevelTag(level);
    if (!isOpen() || tag.isEmpty())
        return false;
    const QString message = QString::vasprintf(format, args);
    const QString line = QStringLiteral("%1   [%2]   %3\n")
                             .arg(QString::fromStdString(timestamp(true)), tag, message);
    const QByteArray bytes = line.toUtf8();
    if (write(bytes) != bytes.size())
        return false;
    return flush();
}

bool SysLogFile::writeLine(int level, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const bool ok = writeFormatted(level, format, args);
    va_end(args);
    return ok;
}

bool SysLogFile::writeInfo(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const bool ok = writeFormatted(3, format, args);
    va_end(args);
    return ok;
}

bool SysLogFile::writeSeparator(const QString &text)
{
    if (!isOpen())
        return false;
    const QString body = text.isEmpty() ? QStringLiteral("\n---------seperate line---------\n") : text;
    const QByteArray bytes = (body + QLatin1Char('\n')).toUtf8();
    const qint64 written = write(bytes);
    flush();
    return written > 0;
}

bool SysLogFile::renameLog(const QString &newBaseName)
{
    const QFileInfo info(fileName());
    const QString suffix = info.suffix();
    const QString target = suffix.isEmpty()
        ? QStringLiteral("%1/%2").arg(info.absolutePath(), newBaseName)
        : QStringLiteral("%1/%2.%3").arg(info.absolutePath(), newBaseName, suffix);
    if (rename(target))
        return open(QIODevice::WriteOnly | QIODevice::Append);
    // rename() closed the file; keep logging into it.
    if (!isOpen())
        open(QIODevice::WriteOnly | QIODevice::Append);
    return false;
}
