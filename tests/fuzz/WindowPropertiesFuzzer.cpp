// Fuzzes the reading of the window properties that name an application: WM_CLASS and the text
// properties (application id, desktop-file name), and the names made of them.
#include <cstddef>
#include <cstdint>

#include "platform/linux/WindowIdentity.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    platform::WindowIdentity identity;
    platform::parseWmClass(bytes, identity.instanceName, identity.className);
    identity.applicationId = platform::parseTextProperty(bytes);
    identity.desktopFileName = platform::parseTextProperty(bytes.mid(bytes.size() / 2));
    for (const QString& name : identity.names()) {
        // Names are never empty, and never hold the NUL that ends a property's text.
        if (name.isEmpty() || name.contains(QChar(0)))
            __builtin_trap();
    }
    return 0;
}
