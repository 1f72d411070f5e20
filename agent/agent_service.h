#pragma once

// The agent as the platform's system service. Linux: systemd starts it (Type=notify) and is told
// through sd_notify when it is ready and what it is waiting for. Windows: it runs under the service
// control manager, which also tells it of user sessions coming and going (SessionMonitor).

#include <QString>

#include <functional>

namespace plinket {

// Runs `body` (which builds the agent and runs its event loop) as the service; returns its exit code.
int runAsService(int argc, char* argv[], const std::function<int(int, char*[])>& body);

// The service is up: its channel listens and the message port is bound (or being waited for).
void serviceReady(const QString& status);
void serviceStatus(const QString& status);

// Where the agent keeps the messages sessions may still show (Linux: systemd's StateDirectory).
QString agentStateFile();

} // namespace plinket
