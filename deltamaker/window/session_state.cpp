#include "deltamaker/window/session_state.h"

#include "common/utils.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace Deltamaker {

namespace {

// Row keys in the file, by row.
const char *const kRowKeys[RowCount] = {"boot", "partition", "old", "new", "nv1", "nv2", "output"};
const int kFormat = 1;
// A longer log text is cut when saved, so that a full log stays far below the size limit.
const int kMaxSavedText = 4096;

QString stringOf(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? value.toString() : QString();
}

} // namespace

QString sessionFileName()
{
    return QStringLiteral("session.json");
}

bool loadSession(const QString &file, SessionState &state)
{
    state = SessionState();
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly) || f.size() > kSessionMaxBytes)
        return false;
    const QByteArray bytes = f.read(kSessionMaxBytes + 1);
    if (bytes.size() > kSessionMaxBytes)
        return false;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject root = doc.object();
    if (root.value(QStringLiteral("format")).toInt() != kFormat)
        return false;
    const QJsonObject rows = root.value(QStringLiteral("rows")).toObject();
    for (int r = 0; r < RowCount; ++r) {
        const QJsonObject row = rows.value(QLatin1String(kRowKeys[r])).toObject();
        state.paths[r] = stringOf(row, "path");
        state.folders[r] = stringOf(row, "folder");
    }
    state.exportFolder = stringOf(root, "exportFolder");
    const QJsonArray log = root.value(QStringLiteral("log")).toArray();
    for (int i = qMax(0, log.size() - kSessionLogRows); i < log.size(); ++i) {
        const QJsonObject line = log.at(i).toObject();
        const int level = line.value(QStringLiteral("level")).toInt(-1);
        if (level < 0 || level > 3 || !line.value(QStringLiteral("text")).isString())
            continue;
        state.log.push_back({stringOf(line, "time"), level, stringOf(line, "text")});
    }
    return true;
}

bool saveSession(const QString &file, const SessionState &state)
{
    QJsonObject rows;
    for (int r = 0; r < RowCount; ++r) {
        QJsonObject row;
        row.insert(QStringLiteral("path"), state.paths[r]);
        row.insert(QStringLiteral("folder"), state.folders[r]);
        rows.insert(QLatin1String(kRowKeys[r]), row);
    }
    QJsonArray log;
    for (int i = qMax(0, state.log.size() - kSessionLogRows); i < state.log.size(); ++i) {
        const SessionLogRow &line = state.log[i];
        log.append(QJsonObject{{QStringLiteral("time"), line.time},
                               {QStringLiteral("level"), line.level},
                               {QStringLiteral("text"), line.text.left(kMaxSavedText)}});
    }
    const QJsonObject root{{QStringLiteral("format"), kFormat},
                           {QStringLiteral("rows"), rows},
                           {QStringLiteral("exportFolder"), state.exportFolder},
                           {QStringLiteral("log"), log}};
    return writeFile(file, [&root] { return QJsonDocument(root).toJson(QJsonDocument::Indented); });
}

} // namespace Deltamaker
