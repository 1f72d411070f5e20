#pragma once

// The words of the pop-up's title and its once-a-minute age line ("Message 5 minutes ago"), without widgets.

#include <QString>

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

} // namespace plinket
