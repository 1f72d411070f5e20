#include "messaging_texts.h"

namespace plinket {

namespace {

struct Row {
    MessagingTextId id;
    const char16_t* russian;
    const char16_t* english;
};

constexpr Row TEXTS[] = {
    {MessagingTextId::oversizeTitle, u"Слишком длинное сообщение", u"Message too long"},
    {MessagingTextId::oversizeNeverShown,
     u"Сообщение занимает %1 байт, а клиенты принимают не больше 2048 байт: ни один клиент его не покажет.\r\n"
     u"Сообщение не отправлено. Сократите текст.",
     u"The message takes %1 bytes, but clients accept at most 2048 bytes: no client would show it.\r\n"
     u"The message was not sent. Please shorten the text."},
    {MessagingTextId::oversizeCut,
     u"Сообщение занимает %1 байт, а клиенты показывают только первые 2000 байт: конец текста будет обрезан.\r\n"
     u"Всё равно отправить?",
     u"The message takes %1 bytes, but clients show only the first 2000 bytes: the end of the text will be "
     u"cut off.\r\nSend it anyway?"},
    {MessagingTextId::sendAnyway, u"Отправить", u"Send anyway"},
    {MessagingTextId::cancelSend, u"Отмена", u"Cancel"},
    {MessagingTextId::nothingSent, u"Ничего не отправлено: не отмечен ни один получатель.",
     u"Nothing was sent: no recipient is ticked."},
};

} // namespace

QString messagingText(QStringView languageCode, MessagingTextId id) {
    for (const Row& row : TEXTS)
        if (row.id == id)
            return QString::fromUtf16(languageCode == u"EN" ? row.english : row.russian);
    return {};
}

} // namespace plinket
