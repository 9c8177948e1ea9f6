// The two programs' shared steps: where the pair's bundles lie, the launch entries read back from
// the environment, and the immediate exit. The checks of the pair's processes and bus names ask the
// system through the peer's liveness probes, beside those probes in platform/linux.
#include "platform/PairProtocol.h"

#include <cstdio>
#include <cstdlib>

#include <QDir>

#include "platform/MainBundle.h"
#include "platform/Workspace.h"

namespace platform {

QString PairProtocol::expectedBundlePath(const QString& bundleIdentifier) {
    const MainBundle& own = MainBundle::shared();
    if (own.bundlePath().isEmpty())
        return {};
    if (bundleIdentifier == own.bundleIdentifier())
        return own.bundlePath();
    if (bundleIdentifier == HELPER_BUNDLE_ID && own.bundleIdentifier() == MASTER_BUNDLE_ID)
        return QDir(own.bundlePath())
            .filePath(QStringLiteral("Contents/Library/LoginItems/") + helperBundleName);
    if (bundleIdentifier == MASTER_BUNDLE_ID && own.bundleIdentifier() == HELPER_BUNDLE_ID) {
        // Corvane.app, LoginItems, Library, Contents: by position only.
        return QDir::cleanPath(own.bundlePath() + QStringLiteral("/../../../.."));
    }
    return {};
}

bool PairProtocol::launchedWith(const QString& key) {
    return !qEnvironmentVariableIsEmpty(qPrintable(launchVariablePrefix + key));
}

void PairProtocol::endProcess(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace platform
