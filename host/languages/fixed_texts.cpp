#include "host/languages/fixed_texts.h"

#include "common/dialogs.h"
#include "host/languages/lang_store.h"

namespace {
const QString kContext = QStringLiteral("Tessel");
} // namespace

bool keepsFixedChinese(LangStore &langs)
{
    QString lang;
    if (!langs.currentLang(kContext, lang) || lang.trimmed().isEmpty())
        return true;
    const QString name = lang.trimmed().toLower();
    return name == QLatin1String("zh") || name.startsWith(QLatin1String("zh_"))
           || name.startsWith(QLatin1String("zh-"));
}

QString fixedText(LangStore &langs, const char *key, const char *chinese)
{
    if (keepsFixedChinese(langs))
        return QString::fromUtf8(chinese);
    return langs.text(kContext, QLatin1String(key));
}

void applyDialogButtonTexts(LangStore &langs)
{
    setDialogButtonTexts(fixedText(langs, "dialog/button/ok", "确定"),
                         fixedText(langs, "dialog/button/yes", "是"),
                         fixedText(langs, "dialog/button/no", "否"));
}
