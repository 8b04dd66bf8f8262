// The few texts that stay Chinese in a Chinese host (the message boxes' buttons, the warning of
// a second start) and come from the host's language file in any other language.
#pragma once

#include <QString>

class LangStore;

// True for the languages that keep the fixed Chinese texts: "zh" and its variants ("zh_CN"),
// and a host without a current language.
bool keepsFixedChinese(LangStore &langs);

// The fixed Chinese text in Chinese, otherwise the host's text of `key`.
QString fixedText(LangStore &langs, const char *key, const char *chinese);

// Sets the message boxes' buttons ("确定", "是", "否") for the host's current language.
void applyDialogButtonTexts(LangStore &langs);
