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
    {MessagingTextId::keyReadableByOthers,
     u"Ключ подписи %1 могут прочитать другие пользователи, поэтому он не используется.\r\n"
     u"Оставьте право чтения только владельцу (chmod 600) или удалите ключ, чтобы посылать сообщения без "
     u"подписи.\r\nПрограмма прервана.",
     u"The signing key %1 can be read by other users, so it is not used.\r\n"
     u"Let only its owner read it (chmod 600), or remove it to send unsigned messages.\r\n"
     u"The program is interrupted."},
    {MessagingTextId::keyUnreadable, u"Не могу прочитать ключ подписи %1.\r\nПрограмма прервана.",
     u"Can't read the signing key %1.\r\nThe program is interrupted."},
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
