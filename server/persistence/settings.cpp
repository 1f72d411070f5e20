#include "settings.h"

#include "atomic_file.h"
#include "ini_document.h"
#include "regular_file.h"

#include <QDir>
#include <QFile>

namespace plinket {

namespace {

const ServerSettings DEFAULTS;

QString validLanguageOrRussian(const QString& code) {
    return (code == u"RU"_qs || code == u"EN"_qs) ? code : u"RU"_qs;
}

// IniDocument writes an empty line after the byte-order mark; config.ini has its first entry on
// the mark's line. Only a file that starts with the mark is changed, so a file written without it
// never loses a line.
bool joinFirstLineToBom(const QString& path) {
    QByteArray bytes;
    if (readRegularFile(path, &bytes) != FileReadStatus::Read)
        return true; // gone or unreadable: left as it is
    QFile probe(path);
    if (!probe.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return true; // read-only: left as it is
    probe.close();
    if (bytes.size() < 5 || !bytes.startsWith("\xEF\xBB\xBF\r\n"))
        return true;
    return writeFileAtomically(path, bytes.left(3) + bytes.mid(5));
}

} // namespace

QString settingsFilePath(const QString& workingDirectory) {
    return QDir(workingDirectory).filePath(u"config.ini"_qs);
}

QString localFilePath(const QString& storedPath, const QString& workingDirectory) {
    QString path = storedPath;
    if (QDir::separator() == u'/')
        path.replace(u'\\', u'/');
    return QDir::cleanPath(QDir(workingDirectory).filePath(path));
}

QString screenResText(QSize displaySize) {
    return QString::number(displaySize.width()) + u'*' + QString::number(displaySize.height());
}

ServerSettings loadSettings(const QString& settingsPath, QSize displaySize, const LanguageSelector& selectLanguage) {
    const LanguageSelector select = selectLanguage ? selectLanguage : LanguageSelector(validLanguageOrRussian);
    ServerSettings s;
    bool useFallbacks = false;
    IniDocument doc;
    if (!doc.open(settingsPath)) {
        useFallbacks = true;
    } else {
        doc.selectGroup(u"Common"_qs);
        s.language = select(doc.readString(u"Language"_qs, u"RU"_qs));
        if (doc.readString(u"ScreenRes"_qs, QString()) == screenResText(displaySize)) {
            s.windowPosX = doc.readInteger(u"WindowPosX"_qs, DEFAULTS.windowPosX);
            s.windowPosY = doc.readInteger(u"WindowPosY"_qs, DEFAULTS.windowPosY);
            s.windowWidth = doc.readInteger(u"WindowWidth"_qs, DEFAULTS.windowWidth);
            s.windowHeight = doc.readInteger(u"WindowHeight"_qs, DEFAULTS.windowHeight);
            s.splitterHoriz = doc.readInteger(u"SplitterHoriz"_qs, DEFAULTS.splitterHoriz);
            s.splitterVertc = doc.readInteger(u"SplitterVertc"_qs, DEFAULTS.splitterVertc);
        } else {
            useFallbacks = true;
        }
        doc.selectGroup(u"Paths"_qs);
        s.clientsPath = doc.readString(u"Clients"_qs, DEFAULTS.clientsPath);
        s.templatesPath = doc.readString(u"Templates"_qs, DEFAULTS.templatesPath);
        doc.selectGroup(u"Messages"_qs);
        s.waitCount = doc.readInteger(u"Timer"_qs, DEFAULTS.waitCount);
        s.waitUnit = doc.readInteger(u"Measure"_qs, DEFAULTS.waitUnit);
        s.broadcastEnabled = doc.readInteger(u"Broadcast"_qs, DEFAULTS.broadcastEnabled);
        s.broadcastAddress = doc.readString(u"Broadcast_IP"_qs, DEFAULTS.broadcastAddress);
        doc.close();
    }
    if (useFallbacks) {
        s.language = select(u"RU"_qs);
        s.windowPosX = DEFAULTS.windowPosX;
        s.windowPosY = DEFAULTS.windowPosY;
        s.windowWidth = DEFAULTS.windowWidth;
        s.windowHeight = DEFAULTS.windowHeight;
        s.splitterHoriz = DEFAULTS.splitterHoriz;
        s.splitterVertc = DEFAULTS.splitterVertc;
        s.waitCount = DEFAULTS.waitCount;
        s.waitUnit = DEFAULTS.waitUnit;
    }
    return s;
}

bool saveSettings(const QString& settingsPath, const ServerSettings& s, QSize displaySize) {
    IniDocument doc;
    if (!doc.open(settingsPath)) {
        // A file that exists but could not be read keeps its bytes: nothing is saved.
        if (doc.openStatus() != FileReadStatus::Missing)
            return false;
        // A new file: start it empty, so it is written without the mark.
        doc.create(settingsPath);
        doc.close();
    }
    if (!doc.open(settingsPath, true))
        return false;
    doc.selectGroup(u"Common"_qs);
    doc.writeString(u"Language"_qs, s.language);
    doc.writeString(u"ScreenRes"_qs, screenResText(displaySize));
    doc.writeInteger(u"WindowPosX"_qs, s.windowPosX);
    doc.writeInteger(u"WindowPosY"_qs, s.windowPosY);
    doc.writeInteger(u"WindowWidth"_qs, s.windowWidth);
    doc.writeInteger(u"WindowHeight"_qs, s.windowHeight);
    doc.writeInteger(u"SplitterHoriz"_qs, s.splitterHoriz);
    doc.writeInteger(u"SplitterVertc"_qs, s.splitterVertc);
    doc.selectGroup(u"Paths"_qs);
    doc.writeString(u"Clients"_qs, s.clientsPath);
    doc.writeString(u"Templates"_qs, s.templatesPath);
    doc.selectGroup(u"Messages"_qs);
    doc.writeInteger(u"Timer"_qs, s.waitCount);
    doc.writeInteger(u"Measure"_qs, s.waitUnit);
    doc.writeInteger(u"Broadcast"_qs, s.broadcastEnabled);
    doc.writeString(u"Broadcast_IP"_qs, s.broadcastAddress);
    if (!doc.close())
        return false;
    return joinFirstLineToBom(settingsPath);
}

} // namespace plinket
