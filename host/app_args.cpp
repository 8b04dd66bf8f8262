#include "host/app_args.h"

#include "common/utils.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

AppArgs::AppArgs(int argc, const char *const *argv, bool skipFirst)
{
    int i = skipFirst ? 1 : 0;
    while (i < argc - 1) {
        if (argv[i][0] == '-') {
            const std::string key(argv[i] + 1);
            ++i;
            m_entries[key] = argv[i];
        }
        ++i;
    }
}

bool AppArgs::getString(const std::string &key, std::string &value) const
{
    const auto it = m_entries.find(key);
    if (it == m_entries.end())
        return false;
    value = it->second;
    return true;
}

bool AppArgs::getInt(const std::string &key, int &value) const
{
    const auto it = m_entries.find(key);
    if (it == m_entries.end())
        return false;
    errno = 0;
    const long v = std::strtol(it->second.c_str(), nullptr, 10);
    value = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : int(v);
    return true;
}

void AppArgs::setString(const std::string &key, const std::string &value)
{
    m_entries[key] = value;
}

void AppArgs::setInt(const std::string &key, int value)
{
    m_entries[key] = formatString("%d", value);
}

std::string AppArgs::toCommandLine() const
{
    std::string text;
    for (const auto &entry : m_entries) {
        if (!text.empty())
            text += ' ';
        text += '-';
        text += entry.first;
        text += ' ';
        text += entry.second;
    }
    return text;
}
