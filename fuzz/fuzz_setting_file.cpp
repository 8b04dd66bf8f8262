// The setting XML loader: the input is a plug-in's setting file, read as the setting editor
// reads it and as a plug-in reads its parameters; a tree that loads is written out again.
#include "fuzz/fuzz_target.h"
#include "fuzz/xml_seeds.h"
#include "host/plugin_config.h"
#include "host/settings/setting_file.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {
std::string g_path;
constexpr size_t kSmall = 64 * 1024;
} // namespace

void fuzzSetUp()
{
    const std::string dir = fuzzTempDir("fuzz-setting");
    if (dir.empty()) {
        std::perror("fuzz_setting_file: set-up");
        std::abort();
    }
    g_path = dir + "/index.config";
}

// Trees of both kinds as the setting editor writes them, a plain minimal file, and files at
// the limits of what a setting file may cost.
void fuzzSeeds(FuzzSeeds &seeds)
{
    for (int kind : {KindNormal, KindFolderType}) {
        SettingTree tree;
        tree.kind = kind;
        SettingNode folder;
        folder.data.nodeType = NodeFolder;
        folder.data.name.set(QStringLiteral("zh"), QString::fromUtf8("电机"));
        folder.data.name.set(QStringLiteral("en"), QStringLiteral("Motor"));
        folder.data.paramName = QStringLiteral("a");
        folder.data.paramType = 1;
        folder.data.paramValue = QStringLiteral("3");
        folder.data.paramUpLimit = QStringLiteral("9");
        folder.data.paramDownLimit = QStringLiteral("0");
        for (int type = 0; type < 4; ++type) {
            SettingNode item;
            item.data.nodeType = NodeItem;
            item.data.name.set(QStringLiteral("zh"), QStringLiteral("n%1").arg(type));
            item.data.paramName = type == 0 ? QStringLiteral("b") : QStringLiteral("p%1").arg(type);
            item.data.paramType = type;
            item.data.paramValue = type == 0 ? QStringLiteral("true") : QStringLiteral("1.5");
            item.data.paramUpLimit = QStringLiteral("10");
            item.data.paramDownLimit = QStringLiteral("-1");
            folder.children.push_back(item);
        }
        tree.nodes.push_back(folder);
        tree.nodes.push_back(folder.children.front());
        const QString path = QString::fromStdString(g_path);
        QFile f(path);
        if (saveSettingFile(path, tree) && f.open(QIODevice::ReadOnly)) {
            const QByteArray text = f.readAll();
            seeds.emplace_back(text.begin(), text.end());
        }
    }
    const QByteArray minimal = "<?xml version = \"1.0\" encoding = \"GBK\"?>\n<Root type=\"0\"/>\n";
    seeds.emplace_back(minimal.begin(), minimal.end());
    XmlSeeds::addLimitSeeds(seeds, "<Root type=\"1\">", "</Root>\n",
                            "<Node name=\"n\" paramName=\"a\" desc=\"\" paramType=\"1\" paramValue=\"1\" "
                            "paramUpLimit=\"2\" paramDownLimit=\"0\"",
                            "<Node");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = QString::fromStdString(g_path);
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            f.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
            std::abort();
    }
    SettingTree tree;
    if (loadSettingFile(path, tree) && size <= kSmall) {
        SysXmlDocument doc;
        buildSettingDocument(tree, doc);
        doc.toText();
    }
    // The same reader again as a plug-in reads it: for small inputs only, so that one large
    // input costs one load and stays within the time limit.
    PluginConfig config;
    if (size <= kSmall && config.load(path)) {
        QString text;
        int number = 0;
        double real = 0;
        bool flag = false;
        for (const char *p : {"a", "a/b", "cpu/size", "", "/", "x//y"}) {
            const QString key = QString::fromLatin1(p);
            config.getString(key, text);
            config.getInt(key, number);
            config.getDouble(key, real);
            config.getBool(key, flag);
            config.getDesc(key, text);
            config.contains(key);
        }
    }
    return 0;
}
