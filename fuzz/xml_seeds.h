// Seeds that every XML reader's target gets: files at and just past each limit of
// SysXmlDocument (attributes on one element, attributes in all, nodes), so that the fuzzer
// starts from inputs where a slow or greedy reader would show.
#pragma once

#include "fuzz/fuzz_target.h"
#include "widgetkit/sys_xml_document.h"

#include <QByteArray>

namespace XmlSeeds {

inline QByteArray attributes(int count, const char *prefix = "a")
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += ' ' + QByteArray(prefix) + QByteArray::number(i) + "=\"x\"";
    return out;
}

// `open` and `close` are the root element's tags; `element` (an element's start, "<a x=\"1\"")
// gets attributes up to the limits, and the bare `small` one is repeated up to the node limit.
inline void addLimitSeeds(FuzzSeeds &seeds, const QByteArray &open, const QByteArray &close,
                          const QByteArray &element, const QByteArray &small)
{
    const QByteArray head = "<?xml version = \"1.0\" encoding = \"GBK\"?>\n" + open + "\n";
    auto add = [&seeds](const QByteArray &b) { seeds.emplace_back(b.begin(), b.end()); };
    const int perElement = SysXmlDocument::kMaxElementAttributes - element.count('=');
    // Many attributes on one element.
    add(head + element + attributes(perElement) + "/>\n" + close);
    add(head + element + attributes(perElement + 1) + "/>\n" + close);
    // Many elements, up to the limit and one past it.
    const QByteArray one = small + "/>";
    add(head + one.repeated(SysXmlDocument::kMaxNodes - 3) + close);
    add(head + one.repeated(SysXmlDocument::kMaxNodes) + close);
    // Many attributes in all, spread over elements.
    const QByteArray wide = element + attributes(perElement) + "/>\n";
    add(head + wide.repeated(SysXmlDocument::kMaxAttributes / SysXmlDocument::kMaxElementAttributes + 1) + close);
    // Comments count as nodes.
    add(head + QByteArray("<!---->").repeated(SysXmlDocument::kMaxNodes) + close);
}

} // namespace XmlSeeds
