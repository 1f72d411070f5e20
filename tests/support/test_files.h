#pragma once

#include <QByteArray>
#include <QString>

namespace plinket::test {

QByteArray readFileBytes(const QString& path);
bool writeFileBytes(const QString& path, const QByteArray& bytes);
// "45 4E 04 ..." to bytes; blanks and line breaks between pairs are ignored.
QByteArray hexBytes(const char* hex);
// Lets every user read the file, as a careless copy would leave a secret (Linux: mode bits for group
// and others; Windows: an entry for Everyone in its access control list).
bool letOthersRead(const QString& path);
// Files as Unix has them (Linux): a FIFO in a file's place, a file given to user nobody (as root). Where
// the system has no such thing (Windows), unixFiles() is false and the others fail.
bool unixFiles();
bool keepPrivate(const QString& path); // readable and writable by its owner only; Windows: as created
bool makeFifo(const QString& path);
bool giveToNobody(const QString& path); // needs root
bool runningAsRoot();
// UTF-8 byte-order mark.
inline const QByteArray BOM = QByteArrayLiteral("\xEF\xBB\xBF");

} // namespace plinket::test
