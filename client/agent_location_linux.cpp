#include "agent_channel.h"

namespace plinket {

QString agentChannelName() {
    return QStringLiteral("/run/plinket/agent.sock");
}

} // namespace plinket
