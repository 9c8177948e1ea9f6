// Vaultine's program entry. Until the locking is built it only reports its bundle and settings
// store and exits.
#include <QGuiApplication>
#include <cstdio>

#include "platform/MainBundle.h"

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    const auto& bundle = platform::MainBundle::shared();
    std::printf("Vaultine %s at %s: locking is not built yet; exiting.\n",
                qPrintable(bundle.bundleIdentifier()), qPrintable(bundle.bundlePath()));
    return 0;
}
