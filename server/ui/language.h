#pragma once

// The console's interface texts in Russian and English. The language is chosen once at start-up
// (applyLanguage) and holds for the whole run; every language-dependent text is read through its
// id. Widget-free: showing the warning box is the caller's part, and applyLanguage's result says
// when it is due.

#include <QString>
#include <QStringView>

namespace plinket {

enum class TextId {
    errorTitle,
    sendShortcutTip,
    templateSyntaxTip,
    errTcpInit,
    errPortBusy,
    errClientsFile,
    errRegistryKey,
    allClientsLabel,
    sendLabel,
    settingsLabel,
    changelogLabel,
    aboutLabel,
    donateLabel,
    copyLabel,
    cutLabel,
    pasteLabel,
    removeLabel,
    unitSeconds,
    unitMinutes,
    unitHours,
    statusDelivered,
    statusConfirmed,
    statusNotDelivered,
    timePreposition,
    broadcastLabel,
    saveTemplateLabel,
    errSaveTemplate,
    tickNotDeliveredLabel,
    tickUnconfirmedLabel,
    languageCode,
};
inline constexpr int TEXT_ID_COUNT = int(TextId::languageCode) + 1;

// Texts that are the same in both languages.
inline constexpr QStringView MAIN_WINDOW_TITLE = u"Plinket Server v1.40";
inline constexpr QStringView WARNING_TITLE = u"Warning";
inline constexpr QStringView LANGUAGE_WARNING = u"Incorrect language setting, only RU or EN are permissible.\r\n"
                                                u"Application was launched with default 'RU' setting.";
// Caption of the forum link: this prefix followed by the forum's name.
inline constexpr QStringView FORUM_CAPTION_PREFIX = u"Обсуждение на ";

inline constexpr QStringView LANGUAGE_RU = u"RU";
inline constexpr QStringView LANGUAGE_EN = u"EN";

struct [[nodiscard]] LanguageChoice {
    QString code;            // the code now in effect: "RU" or "EN"
    bool warningDue = false; // show a box with the warning icon, WARNING_TITLE and LANGUAGE_WARNING
};

// Exactly "RU" or "EN" (case-sensitive).
bool isValidLanguageCode(const QString& code);

// Sets every text id to the table of `code`; any code but "RU" or "EN" selects Russian and asks
// the caller to show the language warning. The last call wins.
[[nodiscard]] LanguageChoice applyLanguage(const QString& code);

// The language of a program with no config.ini to follow (plinket_send on a computer without a
// console): the locale's message language, which is the first of LC_ALL, LC_MESSAGES and LANG that is
// set and not empty. "RU" for a Russian locale (ru, ru_RU.UTF-8, ...), "EN" for any other or none.
QString languageOfLocale(QStringView lcAll, QStringView lcMessages, QStringView lang);

// The text of `id` in the language in effect (Russian until applyLanguage has run).
const QString& text(TextId id);
// The text of `id` in the given language ("EN" gives English, anything else Russian).
QString textIn(QStringView code, TextId id);

} // namespace plinket
