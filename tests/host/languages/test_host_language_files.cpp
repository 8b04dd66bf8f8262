#include "host/languages/lang_store.h"
#include "tests/host/host_test_util.h"
#include "tests/support/test_paths.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {
// Every key the host looks up, with the conversions its pattern takes in order
// ("1" for a Qt "%1" pattern, empty for a plain text).
const struct {
    const char *key;
    const char *conversions;
} kHostKeys[] = {
    {"genPkg/title", ""},
    {"genPkg/fileIsNotUnderWorkDirFmt", "s"},
    {"genPkg/notExist", ""},
    {"genPkg/packListIsEmpty", ""},
    {"genPkg/fileList/title", ""},
    {"genPkg/fileList/addFile", ""},
    {"genPkg/fileList/clear", ""},
    {"genPkg/fileList/action/removeFile", ""},
    {"genPkg/fileList/header/fileName", ""},
    {"genPkg/fileList/header/relPath", ""},
    {"genPkg/tempMgr/title", ""},
    {"genPkg/tempMgr/action/openTemp", ""},
    {"genPkg/tempMgr/action/genTemp", ""},
    {"genPkg/tempMgr/action/packPlugin", ""},
    {"genPkg/tempMgr/tempLoadFailed", ""},
    {"genPkg/tempMgr/tempSaveSuccess", ""},
    {"genPkg/tempMgr/tempSaveFailed", ""},
    {"genPkg/tempMgr/packSuccess", ""},
    {"genPkg/tempMgr/packFailed", ""},
    {"history/titleFmt", "1"},
    {"importPkg/title", ""},
    {"importPkg/action/title", ""},
    {"importPkg/action/openPlugin", ""},
    {"importPkg/action/startInstall", ""},
    {"importPkg/action/clearLog", ""},
    {"importPkg/procLog/title", ""},
    {"importPkg/procLog/table/header/time", ""},
    {"importPkg/procLog/table/header/level", ""},
    {"importPkg/procLog/table/header/content", ""},
    {"importPkg/plugin/canNotOpen", ""},
    {"importPkg/plugin/startInstallFmt", "s"},
    {"importPkg/plugin/install/success", ""},
    {"importPkg/plugin/install/failed", ""},
    {"importPkg/plugin/uninstall/successFmt", "s"},
    {"importPkg/plugin/uninstall/failFmt", "s"},
    {"importPkg/readFileHeaderFailed", ""},
    {"importPkg/findFileFmt", "s"},
    {"importPkg/readFileDataHeaderFailFmt", "s"},
    {"importPkg/createFileFailFmt", "s"},
    {"importPkg/writeFileFailFmt", "s"},
    {"importPkg/releaseFileSuccessFmt", "s"},
    {"importPkg/clearInstalledFileFmt", "s"},
    {"genPkg/cannotReadFmt", "s"},
    {"genPkg/cannotWriteFmt", "s"},
    {"genPkg/packTooLargeFmt", "s"},
    {"importPkg/entryTruncatedFmt", "d"},
    {"importPkg/badLengthFmt", "ddd"},
    {"importPkg/unsafePathFmt", "s"},
    {"importPkg/packageTooLargeFmt", "s"},
    {"importPkg/backupFailFmt", "s"},
    {"importPkg/restoreFileFmt", "s"},
    {"importPkg/restoreFileFailFmt", "s"},
    {"importPkg/plugin/reloadFmt", "s"},
    {"langMgr/titleFmt", "1"},
    {"langMgr/langList", ""},
    {"langMgr/action/switchLang", ""},
    {"langMgr/action/openLang", ""},
    {"langMgr/action/createLang", ""},
    {"langMgr/otherOption", ""},
    {"langMgr/name", ""},
    {"langMgr/dispName", ""},
    {"langMgr/action/save", ""},
    {"langMgr/action/cancel", ""},
    {"langMgr/lengthShouldMoreThanFmt", "sd"},
    {"langMgr/lengthShouldLessThanFmt", "sd"},
    {"langMgr/createLangSuccess", ""},
    {"langMgr/createLangFailed", ""},
    {"langMgr/loadLangFailed", ""},
    {"langMgr/switchLang/success", ""},
    {"langMgr/switchLang/failed", ""},
    {"langMgr/switchLang/failedFmt", "ss"},
    {"main/menu/genPkg", ""},
    {"main/menu/installPkg", ""},
    {"main/menu/langManager", ""},
    {"main/plugin/loading", ""},
    {"main/plugin/canNotFindFmt", "s"},
    {"main/plugin/inUseAndCanNotUnload", ""},
    {"main/plugin/reloadFail", ""},
    {"main/plugin/removeDllFailed", ""},
    {"main/plugin/rightMenu/createSetting", ""},
    {"main/plugin/rightMenu/unloadPlugin", ""},
    {"main/plugin/rightMenu/updateHistory", ""},
    {"main/plugin/rightMenu/updateSetting", ""},
    {"main/plugin/rightMenu/userManual", ""},
    {"main/slashScreen/hereShowContent", ""},
    {"setting/titleFmt", "1"},
    {"setting/settingList", ""},
    {"setting/save", ""},
    {"setting/saveFailed", ""},
    {"setting/saveTreeDataFailed", ""},
    {"setting/saveXmlFailed", ""},
    {"setting/loadFailed", ""},
    {"setting/createSuccess", ""},
    {"setting/createFailed", ""},
    {"setting/emptyContent", ""},
    {"setting/paramNameCanNotBeEmpty", ""},
    {"setting/action/save", ""},
    {"setting/action/cancel", ""},
    {"setting/createSetting/folder", ""},
    {"setting/createSetting/item", ""},
    {"setting/createSetting/subFolder", ""},
    {"setting/createSetting/subItem", ""},
    {"setting/dataType/bool", ""},
    {"setting/dataType/float", ""},
    {"setting/dataType/number", ""},
    {"setting/dataType/string", ""},
    {"setting/nodeAttr/desc", ""},
    {"setting/nodeAttr/nodeName", ""},
    {"setting/nodeAttr/nodeType", ""},
    {"setting/nodeAttr/paramLimit/down", ""},
    {"setting/nodeAttr/paramLimit/up", ""},
    {"setting/nodeAttr/paramName", ""},
    {"setting/nodeAttr/paramType", ""},
    {"setting/nodeAttr/paramValue", ""},
    {"setting/nodeAttr/paramValueBool", ""},
    {"setting/nodeType/root", ""},
    {"setting/nodeType/item", ""},
    {"setting/nodeType/folder", ""},
    {"setting/param/notInRange/number", "ddd"},
    {"setting/param/notInRange/float", "ggg"},
    {"setting/rightMenu/addFolder", ""},
    {"setting/rightMenu/addItem", ""},
    {"setting/rightMenu/addSubFolder", ""},
    {"setting/rightMenu/addSubItem", ""},
    {"setting/rightMenu/collapseAll", ""},
    {"setting/rightMenu/expandAll", ""},
    {"setting/rightMenu/copy", ""},
    {"setting/rightMenu/cut", ""},
    {"setting/rightMenu/paste", ""},
    {"setting/rightMenu/removeThisFolder", ""},
    {"setting/rightMenu/removeThisItem", ""},
    {"setting/rightMenu/setSettingType", ""},
    {"setting/settingType/folderType", ""},
    {"setting/settingType/normalType", ""},
    {"filter/template", ""},
    {"filter/package", ""},
    {"filter/all", ""},
};

QString conversionsOf(const QString &pattern)
{
    if (pattern.contains(QStringLiteral("%1")))
        return QStringLiteral("1");
    QString out;
    static const QRegularExpression conv(QStringLiteral("%[-+ #0]*[0-9]*(?:\\.[0-9]+)?[hlLqjzt]*([a-zA-Z%])"));
    auto it = conv.globalMatch(pattern);
    while (it.hasNext()) {
        const QString c = it.next().captured(1);
        if (c != QStringLiteral("%"))
            out += c;
    }
    return out;
}
} // namespace

TEST(HostLanguageFiles, DefineEveryKeyInBothLanguages)
{
    ASSERT_EQ(sizeof(kHostKeys) / sizeof(kHostKeys[0]), 137u);
    ScopedWorkDir wd;
    const QString src = TestPaths::sourceDir() + QStringLiteral("/runtime/lang/Tessel/");
    ASSERT_EQ(readBytes(src + QStringLiteral("index.config")), QByteArray("zh"));
    ASSERT_TRUE(QDir().mkpath(wd.file(QStringLiteral("lang/Tessel"))));
    for (const char *lang : {"zh", "en"}) {
        const QString name = QString::fromLatin1(lang);
        ASSERT_TRUE(QFile::copy(src + name + QStringLiteral(".lang"), langFilePath(QStringLiteral("Tessel"), name)));
        LangStore store;
        ASSERT_TRUE(store.switchLang(QStringLiteral("Tessel"), name, true));
        LANG_INFO info;
        ASSERT_TRUE(readLangInfo(langFilePath(QStringLiteral("Tessel"), name), info));
        EXPECT_EQ(info.dispName, QString::fromUtf8(name == QLatin1String("zh") ? "简体中文" : "English"));
        for (const auto &k : kHostKeys) {
            const QString text = store.text(QStringLiteral("Tessel"), QString::fromLatin1(k.key));
            EXPECT_FALSE(text.trimmed().isEmpty()) << lang << " " << k.key;
            EXPECT_EQ(conversionsOf(text), QString::fromLatin1(k.conversions)) << lang << " " << k.key;
        }
    }
}
