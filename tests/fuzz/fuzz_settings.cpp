// config.ini: any bytes as the file. Loading leaves it untouched; what was loaded, saved and loaded
// again is what was loaded; and once the file has its mark, saving the same settings again changes
// no byte.

#include "fuzz_target.h"
#include "regular_file.h"
#include "settings.h"

using namespace plinket;
using plinket::fuzz::check;

namespace {

bool sameSettings(const ServerSettings& a, const ServerSettings& b) {
    return a.language == b.language && a.windowPosX == b.windowPosX && a.windowPosY == b.windowPosY &&
           a.windowWidth == b.windowWidth && a.windowHeight == b.windowHeight && a.splitterHoriz == b.splitterHoriz &&
           a.splitterVertc == b.splitterVertc && a.clientsPath == b.clientsPath && a.templatesPath == b.templatesPath &&
           a.waitCount == b.waitCount && a.waitUnit == b.waitUnit && a.broadcastEnabled == b.broadcastEnabled &&
           a.broadcastAddress == b.broadcastAddress;
}

QByteArray fileBytes(const QString& path) {
    QByteArray bytes;
    readRegularFile(path, &bytes);
    return bytes;
}

} // namespace

PLINKET_FUZZ_TARGET(settings) {
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const QString path = fuzz::scratchPath(u"config.ini"_qs);
    fuzz::putFile(path, bytes);
    const QSize display(1920, 1080);

    const ServerSettings loaded = loadSettings(path, display);
    check(fileBytes(path) == bytes, "loading changed config.ini");
    check(saveSettings(path, loaded, display), "a writable config.ini was not saved");
    const ServerSettings reloaded = loadSettings(path, display);
    check(sameSettings(reloaded, loaded), "the saved settings read back differently");

    check(saveSettings(path, reloaded, display), "a writable config.ini was not saved again");
    const QByteArray marked = fileBytes(path);
    check(saveSettings(path, reloaded, display) && fileBytes(path) == marked,
          "saving the same settings changed the file");
    return 0;
}
