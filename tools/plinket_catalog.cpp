// Generates the event message files from the event text table.
//   plinket_catalog client|server|send         that source's journal catalog on stdout
//                                              (resources/plinket-client.catalog, -server, -send)
//   plinket_catalog --mc client|server|send F  the Windows message-compiler source, UTF-16LE with BOM, into F
#include "event_texts.h"

#include <QFile>

#include <cstdio>
#include <cstring>
#include <optional>

namespace {

std::optional<plinket::EventSource> sourceNamed(const char* name) {
    if (std::strcmp(name, "client") == 0)
        return plinket::EventSource::Client;
    if (std::strcmp(name, "server") == 0)
        return plinket::EventSource::Server;
    if (std::strcmp(name, "send") == 0)
        return plinket::EventSource::Send;
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--mc") == 0 && sourceNamed(argv[2])) {
        const QString text = plinket::windowsMessageFile(*sourceNamed(argv[2]));
        QFile out(QString::fromLocal8Bit(argv[3]));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 1;
        QByteArray bytes("\xFF\xFE", 2);
        bytes.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        return out.write(bytes) == bytes.size() ? 0 : 1;
    }
    if (argc == 2 && sourceNamed(argv[1])) {
        const QByteArray text = plinket::journalCatalog(*sourceNamed(argv[1])).toUtf8();
        std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
        return 0;
    }
    std::fputs("usage: plinket_catalog client|server|send\n       plinket_catalog --mc client|server|send FILE\n",
               stderr);
    return 2;
}
