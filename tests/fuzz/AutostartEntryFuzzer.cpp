// Fuzzes the reading of an autostart entry, which any program of the user may have rewritten.
#include <cstddef>
#include <cstdint>

#include "platform/linux/XdgAutostartLoginItems.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString corvane = QStringLiteral(
        "/opt/vaultine/Vaultine.app/Contents/Library/LoginItems/"
        "Corvane.app/Contents/bin/Corvane");
    // Only an entry that names the program can start it.
    if (platform::XdgAutostartLoginItems::entryStarts(bytes, corvane) && !bytes.contains("Exec"))
        __builtin_trap();
    return 0;
}
