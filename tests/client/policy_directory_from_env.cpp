// The client's test build reads its policy from the folder PLINKET_TEST_POLICY_DIR names, if any.
#include "client_policy.h"

QString plinket::clientPolicyDirectory() {
    return qEnvironmentVariable("PLINKET_TEST_POLICY_DIR", QStringLiteral("/etc/plinket"));
}
