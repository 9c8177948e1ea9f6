// The two programs' shared steps: the bus-name check through the peer's liveness probes, the
// launch entries read back from the environment, and the immediate exit.
#include "platform/PairProtocol.h"

#include <cstdio>
#include <cstdlib>

#include "platform/PeerLiveness.h"
#include "platform/Workspace.h"

namespace platform {

bool PairProtocol::holdsItsName(const QString& bundleIdentifier) {
    return PeerLiveness(bundleIdentifier).peerHoldsItsName();
}

bool PairProtocol::launchedWith(const QString& key) {
    return !qEnvironmentVariableIsEmpty(qPrintable(launchVariablePrefix + key));
}

void PairProtocol::endProcess(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace platform
