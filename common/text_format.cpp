#include "common/text_format.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {
bool isIntArg(const QVariant &v)
{
    switch (int(v.type())) {
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong:
    case QMetaType::ULongLong: case QMetaType::Long: case QMetaType::ULong:
        return true;
    default:
        return false;
    }
}

template <typename... T> std::string printOne(const std::string &spec, T... value)
{
    const int n = std::snprintf(nullptr, 0, spec.c_str(), value...);
    if (n < 0)
        return spec;
    std::vector<char> buf(size_t(n) + 1);
    std::snprintf(buf.data(), buf.size(), spec.c_str(), value...);
    return std::string(buf.data(), size_t(n));
}
} // namespace

QString formatPattern(const QString &pattern, const QVector<QVariant> &args)
{
    const std::string p = pattern.toStdString();
    std::string out;
    int next = 0;
    size_t i = 0;
    while (i < p.size()) {
        if (p[i] != '%') {
            out += p[i++];
            continue;
        }
        if (i + 1 < p.size() && p[i + 1] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        // %[flags][width][.precision][length]conversion; '*' is never accepted.
        size_t j = i + 1;
        std::string flags, width, precision;
        while (j < p.size() && std::string("-+ #0'").find(p[j]) != std::string::npos)
            flags += p[j++];
        while (j < p.size() && p[j] >= '0' && p[j] <= '9' && width.size() < 4)
            width += p[j++];
        if (j < p.size() && p[j] == '.') {
            precision = ".";
            ++j;
            while (j < p.size() && p[j] >= '0' && p[j] <= '9' && precision.size() < 5)
                precision += p[j++];
        }
        while (j < p.size() && std::string("hlLqjzt").find(p[j]) != std::string::npos)
            ++j;
        if (j >= p.size()) {
            out += p.substr(i);
            break;
        }
        const char conv = p[j];
        const std::string raw = p.substr(i, j + 1 - i);
        const std::string base = "%" + flags + width + precision;
        const QVariant arg = next < args.size() ? args[next] : QVariant();
        bool used = true;
        if (conv == 's' && arg.type() == QVariant::String) {
            out += printOne(base + "s", arg.toString().toUtf8().constData());
        } else if (std::string("diouxXc").find(conv) != std::string::npos && isIntArg(arg)) {
            if (conv == 'c')
                out += printOne(base + "c", int(arg.toLongLong()));
            else
                out += printOne(base + "ll" + conv, arg.toLongLong());
        } else if (std::string("fFeEgGaA").find(conv) != std::string::npos
                   && (arg.type() == QVariant::Double || isIntArg(arg))) {
            out += printOne(base + conv, arg.toDouble());
        } else {
            out += raw; // no matching argument: shown as written
            used = false;
        }
        if (used)
            ++next;
        i = j + 1;
    }
    return QString::fromStdString(out);
}
