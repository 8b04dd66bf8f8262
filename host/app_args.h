// The host's command-line options: pairs of "-key value", kept in key order.
#pragma once

#include <map>
#include <string>

class AppArgs
{
public:
    AppArgs() = default;
    // Reads "-key value" pairs from argv. With skipFirst the program path is not read.
    AppArgs(int argc, const char *const *argv, bool skipFirst);

    bool getString(const std::string &key, std::string &value) const;
    // Decimal conversion as atoi: leading blanks, optional sign, leading digits; no digits is 0.
    // `value` keeps the caller's default when the key is absent.
    bool getInt(const std::string &key, int &value) const;
    void setString(const std::string &key, const std::string &value);
    void setInt(const std::string &key, int value);

    // "-key value" for every entry in key order, separated by one blank; values unquoted.
    std::string toCommandLine() const;

    const std::map<std::string, std::string> &entries() const { return m_entries; }

private:
    std::map<std::string, std::string> m_entries;
};
