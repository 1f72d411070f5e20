// Generates the event message files from the event text table.
//   plinket_catalog                       the journal catalog on stdout (resources/plinket.catalog is this)
//   plinket_catalog --mc client|server|send F  the Windows message-compiler source, UTF-16LE with BOM, into F
#include "event_texts.h"

#include <QFile>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--mc") == 0) {
        const plinket::EventSource source = std::strcmp(argv[2], "client") == 0 ? plinket::EventSource::Client
                                            : std::strcmp(argv[2], "send") == 0 ? plinket::EventSource::Send
                                                                                : plinket::EventSource::Server;
        const QString text = plinket::windowsMessageFile(source);
        QFile out(QString::fromLocal8Bit(argv[3]));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 1;
        QByteArray bytes("\xFF\xFE", 2);
        bytes.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        return out.write(bytes) == bytes.size() ? 0 : 1;
    }
    const QByteArray text = plinket::journalCatalog().toUtf8();
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
    return 0;
}
