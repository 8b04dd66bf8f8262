#include "widgetkit/sys_regular_file.h"

#include <QFile>

#include <cerrno>
#include <limits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

SysRegularFile::~SysRegularFile()
{
    close();
}

SysRegularFile::Status SysRegularFile::open(const QString &path, qint64 limit)
{
    close();
    // O_NONBLOCK: a FIFO opens at once instead of waiting for a writer, and is then refused.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT ? Missing : errno == EISDIR ? NotRegular : CannotOpen;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return CannotOpen;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return NotRegular;
    }
    if (st.st_size > limit) {
        ::close(fd);
        return TooLarge;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    m_fd = fd;
    m_size = st.st_size;
    m_done = 0;
    return Ok;
}

qint64 SysRegularFile::read(char *data, qint64 max)
{
    if (m_fd < 0)
        return -1;
    // Never past the size checked at the open: a file that grows is not read on.
    max = qMin(max, m_size - m_done);
    if (max <= 0)
        return 0;
    for (;;) {
        const ssize_t got = ::read(m_fd, data, size_t(max));
        if (got < 0 && errno == EINTR)
            continue;
        if (got > 0)
            m_done += got;
        return got;
    }
}

bool SysRegularFile::readAll(QByteArray &out)
{
    if (m_fd < 0)
        return false;
    if (m_size - m_done > qint64(std::numeric_limits<int>::max()))
        return false;
    QByteArray bytes(int(m_size - m_done), Qt::Uninitialized);
    qint64 filled = 0;
    while (filled < bytes.size()) {
        const qint64 got = read(bytes.data() + filled, bytes.size() - filled);
        if (got <= 0)
            return false; // an error, or the file shrank
        filled += got;
    }
    // One byte more would mean the file grew while it was read.
    char extra;
    ssize_t more;
    do {
        more = ::read(m_fd, &extra, 1);
    } while (more < 0 && errno == EINTR);
    if (more != 0)
        return false;
    out = bytes;
    return true;
}

void SysRegularFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_size = 0;
    m_done = 0;
}

bool SysRegularFile::readFile(const QString &path, qint64 limit, QByteArray &out, Status *status)
{
    SysRegularFile file;
    Status result = file.open(path, limit);
    if (result == Ok && !file.readAll(out))
        result = CannotOpen;
    if (status)
        *status = result;
    return result == Ok;
}
