// Times `lockableApplications` over the machine's desktop entries and over 2,000 generated ones
// (a quarter with a session-bus service of their own), cold (every entry parsed) and warm (the
// catalogue's cache valid), and prints the figures.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "locking/SystemApplicationsService.h"
#include "platform/linux/DesktopEntryCatalogue.h"
#include "platform/linux/LinuxWorkspace.h"

namespace {

constexpr int generatedEntries = 2000;
constexpr int warmRuns = 10;

double milliseconds(const QElapsedTimer& timer) {
    return timer.nsecsElapsed() / 1e6;
}

// Installs a workspace over the folders and times the catalogue's answer.
void measure(const char* title, const QStringList& folders) {
    platform::Workspace::install(std::make_unique<platform::LinuxWorkspace>(folders));
    const SystemApplicationsService service;
    QElapsedTimer timer;
    timer.start();
    const std::size_t count = service.lockableApplications().size();
    const double cold = milliseconds(timer);
    std::vector<double> warm;
    for (int run = 0; run < warmRuns; ++run) {
        timer.restart();
        service.lockableApplications();
        warm.push_back(milliseconds(timer));
    }
    std::sort(warm.begin(), warm.end());
    std::printf("%-34s %5zu applications  cold %7.1f ms  warm median %6.1f ms  max %6.1f ms\n",
                title, count, cold, warm[warm.size() / 2], warm.back());
    platform::Workspace::install(nullptr);
}

// Entries shaped like real ones: translations, an icon, categories, a few vendor sub-folders; every
// fourth application starts a server through the session bus, as terminals and file managers do.
void generate(const QString& folder, const QString& services) {
    QDir().mkpath(services);
    for (int i = 0; i < generatedEntries; ++i) {
        const QString subfolder = i % 10 == 0 ? QStringLiteral("/vendor%1").arg(i % 7) : QString();
        QDir().mkpath(folder + subfolder);
        QFile file(folder + subfolder + QStringLiteral("/org.bench.App%1.desktop").arg(i));
        if (!file.open(QIODevice::WriteOnly))
            continue;
        QByteArray text = "[Desktop Entry]\nType=Application\nName=Bench Application " +
                          QByteArray::number(i) + "\nExec=/bin/true --app " +
                          QByteArray::number(i) + " %U\nIcon=application-x-executable\n" +
                          "Categories=Utility;Development;\nComment=Generated entry\n";
        for (const char* language : {"de", "fr", "es", "it", "ja", "pt_BR", "ru", "zh_CN"})
            text += "Name[" + QByteArray(language) + "]=Bench " + QByteArray::number(i) + "\n";
        file.write(text);
        if (i % 4 != 0)
            continue;
        QFile service(services + QStringLiteral("/org.bench.App%1.service").arg(i));
        if (service.open(QIODevice::WriteOnly))
            service.write("[D-BUS Service]\nName=org.bench.App" + QByteArray::number(i) +
                          "\nExec=/bin/false --server " + QByteArray::number(i) +
                          "\nSystemdService=bench-server" + QByteArray::number(i) + ".service\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    measure("machine's desktop entries", platform::DesktopEntryCatalogue::xdgApplicationFolders());
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("applications"));
    generate(folder, root.filePath(QStringLiteral("dbus-1/services")));
    measure("2,000 generated entries, 500 services", {folder});
    return 0;
}
