#include "agent_service.h"

#include <QDir>

#include <systemd/sd-daemon.h>

namespace plinket {

int runAsService(int argc, char* argv[], const std::function<int(int, char*[])>& body) {
    return body(argc, argv);
}

void serviceReady(const QString& status) {
    sd_notifyf(0, "READY=1\nSTATUS=%s", status.toUtf8().constData());
}

void serviceStatus(const QString& status) {
    sd_notifyf(0, "STATUS=%s", status.toUtf8().constData());
}

QString agentStateFile() {
    // systemd names the unit's StateDirectory= here; run by hand, the agent keeps no state.
    const QByteArray folder = qgetenv("STATE_DIRECTORY");
    return folder.isEmpty() ? QString()
                            : QDir(QString::fromLocal8Bit(folder.split(':').first())).filePath(u"messages"_qs);
}

} // namespace plinket
