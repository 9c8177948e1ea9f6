// The bundle of the running program: the `.app` directory that encloses its executable, and the
// information dictionary (`Contents/Info.json`) it declares.
#pragma once

#include <QString>
#include <memory>
#include <optional>

#include "platform/Installable.h"

namespace platform {

// The keys of a bundle's `Contents/Info.json` that the programs read.
struct BundleInfo {
    QString identifier;           // CFBundleIdentifier
    QString name;                 // CFBundleName
    QString executable;           // CFBundleExecutable
    bool backgroundOnly = false;  // LSBackgroundOnly
};

// Reads `<bundlePath>/Contents/Info.json`. None when the file is missing, unreadable or not a JSON
// object; keys holding something other than text read as empty.
std::optional<BundleInfo> readBundleInfo(const QString& bundlePath);
// Parses the text of an Info.json file with the same rules.
std::optional<BundleInfo> parseBundleInfo(const QByteArray& json);

// The nearest directory ending in ".app" that encloses `path` (a file or directory), or empty.
QString enclosingBundlePath(const QString& path);

class MainBundle : public Installable<MainBundle> {
  public:
    MainBundle(QString bundlePath, QString bundleIdentifier);

    // The enclosing bundle of /proc/self/exe. Outside a bundle both texts are empty.
    static std::unique_ptr<MainBundle> createDefault();

    const QString& bundlePath() const { return path; }
    const QString& bundleIdentifier() const { return identifier; }

  private:
    QString path;
    QString identifier;
};

}  // namespace platform
