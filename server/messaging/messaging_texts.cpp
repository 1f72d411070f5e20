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
    {MessagingTextId::oversizeSigned,
     u"Подписанное сообщение занимает %1 байт, а клиенты проверяют только первые 2000 байт: подпись обрезанного "
     u"сообщения не сойдётся, и клиенты, требующие подписи, его не покажут.\r\n"
     u"Сообщение не отправлено. Сократите текст.",
     u"The signed message takes %1 bytes, but clients check only the first 2000 bytes: the signature of a cut "
     u"message does not match, and clients that require signatures would not show it.\r\n"
     u"The message was not sent. Please shorten the text."},
    {MessagingTextId::keyRefused,
     u"Ключ подписи %1 не используется: %2.\r\n"
     u"Ключ должен быть обычным файлом, принадлежать вам и быть недоступен другим пользователям (chmod 600); "
     u"или удалите его, чтобы посылать сообщения без подписи.\r\nПрограмма прервана.",
     u"The signing key %1 is not used: %2.\r\n"
     u"It must be a regular file that you own and that nobody else can read or change (chmod 600); or remove "
     u"it to send unsigned messages.\r\nThe program is interrupted."},
    {MessagingTextId::keyDamaged,
     u"Файл %1 не содержит ключа подписи.\r\nУдалите его и создайте новый ключ (plinket_server --generate-key) "
     u"или посылайте сообщения без подписи.\r\nПрограмма прервана.",
     u"The file %1 holds no signing key.\r\nRemove it, then make a new key (plinket_server --generate-key) or "
     u"send unsigned messages.\r\nThe program is interrupted."},
};

} // namespace

QString messagingText(QStringView languageCode, MessagingTextId id) {
    for (const Row& row : TEXTS)
        if (row.id == id)
            return QString::fromUtf16(languageCode == u"EN" ? row.english : row.russian);
    return {};
}

} // namespace plinket
