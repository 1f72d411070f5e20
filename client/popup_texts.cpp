#include "popup_texts.h"

namespace plinket {

void selectWords(PopupTexts& texts, const QString& lang) {
    if (lang == u"RU") {
        texts.titleWord = QStringLiteral("Сообщение");
        texts.minuteWord = QStringLiteral("минут");
        texts.agoWord = QStringLiteral("назад");
        texts.signedByWord = QStringLiteral("подписано:");
    } else if (lang == u"EN") {
        texts.titleWord = QStringLiteral("Message");
        texts.minuteWord = QStringLiteral("minute");
        texts.agoWord = QStringLiteral("ago");
        texts.signedByWord = QStringLiteral("signed by");
    }
}

void updatePluralEnding(PopupTexts& texts, const QString& lang, int minutes) {
    if (lang == u"RU") {
        const int lastDigit = minutes % 10;
        const int lastTwoDigits = minutes % 100;
        if (lastTwoDigits >= 10 && lastTwoDigits <= 20)
            texts.pluralEnding.clear();
        else if (lastDigit == 1)
            texts.pluralEnding = QStringLiteral("у");
        else if (lastDigit >= 2 && lastDigit <= 4)
            texts.pluralEnding = QStringLiteral("ы");
        else
            texts.pluralEnding.clear();
    } else if (lang == u"EN") {
        texts.pluralEnding = minutes > 1 ? QStringLiteral("s") : QString();
    }
}

QString ageTitle(PopupTexts& texts, const QString& lang, int minutes) {
    updatePluralEnding(texts, lang, minutes);
    return texts.titleWord + u' ' + QString::number(minutes) + u' ' + texts.minuteWord + texts.pluralEnding + u' ' +
           texts.agoWord;
}

QString titleWithSigner(const PopupTexts& texts, const QString& title, const QString& signer) {
    QString name;
    for (const QChar c : signer) {
        const QChar::Category category = c.category();
        if (category != QChar::Other_Control && category != QChar::Other_Format && !c.isSpace())
            name += c;
        else if (c.isSpace() && !name.isEmpty() && !name.endsWith(u' '))
            name += u' ';
    }
    name = name.trimmed().left(40);
    if (name.isEmpty())
        return title;
    return title + u" \u00B7 "_qs + texts.signedByWord + u' ' + name;
}

QString normalizeLineBreaks(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            result += u'\n';
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else {
            result += c;
        }
    }
    return result;
}

QString withoutDirectionControls(const QString& text) {
    QString result = text;
    result.removeIf([](QChar c) {
        const char16_t u = c.unicode();
        return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
    });
    return result;
}

QStringList possibleTitles(const PopupTexts& texts, const QString& lang) {
    QStringList titles{texts.titleWord};
    for (const int minutes : {881, 882, 888}) {
        PopupTexts copy = texts;
        titles << ageTitle(copy, lang, minutes);
    }
    return titles;
}

} // namespace plinket
