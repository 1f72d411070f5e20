#include "agent_channel.h"

namespace plinket {

QString agentChannelName() {
    return QStringLiteral("plinket-agent"); // \\.\pipe\plinket-agent
}

} // namespace plinket
