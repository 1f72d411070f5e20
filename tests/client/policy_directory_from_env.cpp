// The client's test build reads its policy from the folder PLINKET_TEST_POLICY_DIR names (else the real
// one), in place of client_policy_linux.cpp's, so a test can change the files under a running client.
#include "client_policy.h"

namespace plinket {

QString clientPolicyDirectory() {
    return qEnvironmentVariable("PLINKET_TEST_POLICY_DIR", QStringLiteral("/etc/plinket"));
}

} // namespace plinket
