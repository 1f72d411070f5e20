#pragma once

// The words of the pop-up's title and its once-a-minute age line ("Message 5 minutes ago"), without widgets.

#include <QString>
#include <QStringList>

namespace plinket {

// Kept for the whole run: a message in a language other than "RU" or "EN" reuses the previous words.
struct PopupTexts {
    QString titleWord;    // the title, and the first word of the age line
    QString minuteWord;   // "minute" without its ending
    QString agoWord;      // "ago"
    QString pluralEnding; // the ending last added to minuteWord
    QString signedByWord; // "signed by", before the name of a trusted key that signed the message
};

// Takes the words of `lang` when it is exactly "RU" or "EN"; any other value keeps the previous words.
void selectWords(PopupTexts& texts, const QString& lang);

// The ending of the word "minute" after `minutes`: "RU" "у" / "ы" / "" by the last one and two digits,
// "EN" "s" above 1; any other language keeps the previous ending. Updates texts.pluralEnding.
void updatePluralEnding(PopupTexts& texts, const QString& lang, int minutes);

// The title `minutes` minutes after the pop-up opened: "<title> <N> <minute><ending> <ago>".
// Updates the plural ending first.
QString ageTitle(PopupTexts& texts, const QString& lang, int minutes);

// The title of a message signed by `signer` (a trusted key's name): "<title> · signed by <signer>", with the
// signer's name cut to 40 characters and stripped of control and direction characters; `title` alone for an
// unsigned message. The title is outside the text, so a message text cannot imitate the mark.
QString titleWithSigner(const PopupTexts& texts, const QString& title, const QString& signer);

// Each CR LF, lone CR or lone LF becomes one line break ("\n"): consoles send CR LF.
QString normalizeLineBreaks(const QString& text);

// The text without the Unicode controls that override or isolate the writing direction (U+202A to U+202E,
// U+2066 to U+2069): shown, they could make "1234-5678" read "8765-4321". The text's own letters still
// take their natural direction. (The journal keeps the text as it came.)
QString withoutDirectionControls(const QString& text);

// Every title the pop-up of `lang` can show: the title word and the age lines of three-digit minutes,
// one with each ending. The pop-up is made wide enough for the widest.
QStringList possibleTitles(const PopupTexts& texts, const QString& lang);

} // namespace plinket
