// The setting tree's node record and its multi-language texts.
#pragma once

#include <QMap>
#include <QMetaType>
#include <QString>

#include <functional>

// Text in several languages: language code -> text, ordered by code. Stored as
// "code$$$text" entries joined by ":::"; a stored text without "$$$" is the "zh" entry.
class LangText
{
public:
    LangText() = default;
    static LangText fromStored(const QString &stored);
    QString toStored() const;

    // The entry for `langCode` ("zh" when empty), else the "zh" entry, else empty.
    QString display(const QString &langCode) const;
    // Sets the entry for `langCode` ("zh" when empty); other languages stay.
    void set(const QString &langCode, const QString &text);

    const QMap<QString, QString> &entries() const { return m_entries; }
    bool operator==(const LangText &o) const { return m_entries == o.m_entries; }

private:
    QMap<QString, QString> m_entries;
};

enum SettingNodeType { NodeRoot = 0, NodeFolder = 1, NodeItem = 2 };
enum SettingDataType { DataBool = 0, DataNumber = 1, DataFloat = 2, DataString = 3 };
enum SettingKind { KindNormal = 0, KindFolderType = 1 };

// One setting node; every value is kept as text and converted only for checks.
struct TEST_NODE_DATA {
    int nodeType = NodeRoot;
    LangText name;
    LangText desc;
    QString paramName;
    int paramType = DataBool;
    QString paramValue;
    QString paramUpLimit;
    QString paramDownLimit;

    bool operator==(const TEST_NODE_DATA &o) const
    {
        return nodeType == o.nodeType && name == o.name && desc == o.desc
            && paramName == o.paramName && paramType == o.paramType
            && paramValue == o.paramValue && paramUpLimit == o.paramUpLimit
            && paramDownLimit == o.paramDownLimit;
    }
};
Q_DECLARE_METATYPE(TEST_NODE_DATA)

// Registers TEST_NODE_DATA with the meta-type system (idempotent).
void registerTestNodeDataType();

// Checks a record before the editor accepts it. Returns the message to show (texts through
// `text`, keys of the "setting/" group), or an empty string when the record is acceptable.
QString validateNodeData(const TEST_NODE_DATA &data,
                         const std::function<QString(const QString &key)> &text);
