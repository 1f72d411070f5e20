#include "client_policy.h"

namespace plinket {

QString clientPolicyDirectory() {
    return QStringLiteral("/etc/plinket");
}

} // namespace plinket
