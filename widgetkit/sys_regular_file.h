// A regular file opened for reading with a bound on its size. Opening never blocks (a FIFO
// would wait for a writer for ever), and the type and size checked are those of the file
// actually opened, not of a name that may be changed in between. Qt Core only.
#pragma once

#include <QByteArray>
#include <QString>

class SysRegularFile
{
public:
    enum Status {
        Ok,
        Missing,     // no such file (or a link to none)
        CannotOpen,  // unreadable, or failed while read
        NotRegular,  // a folder, FIFO, device or socket (links are followed)
        TooLarge,    // more than the limit given to open()
    };

    SysRegularFile() = default;
    ~SysRegularFile();
    SysRegularFile(const SysRegularFile &) = delete;
    SysRegularFile &operator=(const SysRegularFile &) = delete;

    // Opens `path` when it is a regular file of at most `limit` bytes.
    Status open(const QString &path, qint64 limit);
    // The size when opened; reads never return more than this.
    qint64 size() const { return m_size; }
    // Reads the next bytes, at most `max`: the count, 0 at the end, -1 on an error.
    qint64 read(char *data, qint64 max);
    // Reads the rest of the file. False when reading fails or the file no longer holds the
    // size it had when opened.
    bool readAll(QByteArray &out);
    void close();

    // Reads a whole regular file of at most `limit` bytes; `status` (when given) says why not.
    static bool readFile(const QString &path, qint64 limit, QByteArray &out, Status *status = nullptr);

private:
    int m_fd = -1;
    qint64 m_size = 0;
    qint64 m_done = 0;
};
