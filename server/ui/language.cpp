#include "language.h"

#include <array>

namespace plinket {

namespace {

struct TextPair {
    TextId id;
    QStringView ru;
    QStringView en;
};

// In TextId order; checked once below.
constexpr std::array<TextPair, TEXT_ID_COUNT> TABLE{{
    {TextId::errorTitle, u"Ошибка!", u"Error!"},
    {TextId::sendShortcutTip, u"Быстрая отправка: Ctrl+Enter", u"Keyboard shortcut: Ctrl+Enter"},
    {TextId::templateSyntaxTip, u"Формат шаблона: \"Заголовок\" тело сообщения (можно многострочное)",
     u"Template syntax: \"header\" message body"},
    {TextId::errTcpInit, u"Не могу инициализировать стек TCP/IP.", u"Can't init TCP/IP stack."},
    {TextId::errPortBusy, u"Не могу открыть порт 47128. Уже используется?", u"Can't open port 47128. Already busy?"},
    {TextId::errClientsFile, u"Не могу создать/открыть файл clients.ini.", u"Can't create/open clients.ini file."},
    {TextId::errRegistryKey, u"Не могу создать раздел в реестре. Нет прав администратора?\rПрограмма прервана.",
     u"Can't create registry key. Lack of admin privileges?\rThe program is interrupted."},
    {TextId::allClientsLabel, u"Все клиенты", u"All clients"},
    {TextId::sendLabel, u"Послать сообщение", u"Send message"},
    {TextId::settingsLabel, u"Настройки", u"Settings"},
    {TextId::changelogLabel, u"История изменений", u"Changelog"},
    {TextId::aboutLabel, u"О программе", u"About"},
    {TextId::donateLabel, u"Сделать пожертвование через PayPal", u"Donate by PayPal"},
    {TextId::copyLabel, u"Копировать", u"Copy"},
    {TextId::cutLabel, u"Вырезать", u"Cut"},
    {TextId::pasteLabel, u"Вставить", u"Paste"},
    {TextId::removeLabel, u"Удалить", u"Remove"},
    {TextId::unitSeconds, u"сек", u"sec"},
    {TextId::unitMinutes, u"мин", u"min"},
    {TextId::unitHours, u"час", u"hrs"},
    {TextId::statusDelivered, u"Доставлено", u"Delivered"},
    {TextId::statusConfirmed, u"Подтверждено", u"Confirmed"},
    {TextId::statusNotDelivered, u"Не доставлено", u"Not delivered"},
    {TextId::timePreposition, u"в", u"in"},
    {TextId::broadcastLabel, u"Использовать broadcast-вещание", u"Use broadcast messaging"},
    {TextId::saveTemplateLabel, u"Сохранить шаблон", u"Save template"},
    {TextId::errSaveTemplate, u"Не удалось сохранить шаблон!", u"Can't save template!"},
    {TextId::tickNotDeliveredLabel, u"Отметить только недоставленные", u"Tick only the not delivered"},
    {TextId::tickUnconfirmedLabel, u"Отметить только неподтверждённые", u"Tick only the unconfirmed"},
    {TextId::languageCode, u"RU", u"EN"},
}};

constexpr bool tableInOrder() {
    for (int i = 0; i < TEXT_ID_COUNT; ++i) {
        if (int(TABLE[size_t(i)].id) != i)
            return false;
    }
    return true;
}
static_assert(tableInOrder(), "the text table must list every id once, in TextId order");

std::array<QString, TEXT_ID_COUNT> makeTexts(bool english) {
    std::array<QString, TEXT_ID_COUNT> texts;
    for (size_t i = 0; i < texts.size(); ++i)
        texts[i] = (english ? TABLE[i].en : TABLE[i].ru).toString();
    return texts;
}

std::array<QString, TEXT_ID_COUNT>& current() {
    static std::array<QString, TEXT_ID_COUNT> texts = makeTexts(false);
    return texts;
}

} // namespace

bool isValidLanguageCode(const QString& code) {
    return code == LANGUAGE_RU || code == LANGUAGE_EN;
}

LanguageChoice applyLanguage(const QString& code) {
    LanguageChoice choice;
    choice.warningDue = !isValidLanguageCode(code);
    choice.code = choice.warningDue ? LANGUAGE_RU.toString() : code;
    current() = makeTexts(choice.code == LANGUAGE_EN);
    return choice;
}

QString languageOfLocale(QStringView lcAll, QStringView lcMessages, QStringView lang) {
    for (const QStringView value : {lcAll, lcMessages, lang})
        if (!value.isEmpty())
            return (value.startsWith(u"ru") ? LANGUAGE_RU : LANGUAGE_EN).toString();
    return LANGUAGE_EN.toString();
}

const QString& text(TextId id) {
    return current()[size_t(id)];
}

QString textIn(QStringView code, TextId id) {
    const TextPair& pair = TABLE[size_t(id)];
    return (code == LANGUAGE_EN ? pair.en : pair.ru).toString();
}

} // namespace plinket
