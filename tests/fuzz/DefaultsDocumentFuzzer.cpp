// Fuzzes the parsing of the defaults file and the reading of its entries as text.
#include <cstddef>
#include <cstdint>

#include "platform/linux/JsonFileUserDefaults.h"
#include "platform/testing/Doubles.h"
#include "storage/KeyValueStorage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto document = platform::JsonFileUserDefaults::parseDocument(bytes);
    if (!document)
        return 0;
    auto defaults = std::make_unique<platform::testing::InMemoryUserDefaults>();
    defaults->values = *document;
    platform::UserDefaults::install(std::move(defaults));
    KeyValueStorage storage(KeyValueStorageType::userDefaults);
    for (auto key = document->begin(); key != document->end(); ++key) {
        (void)storage.getValue(key.key());
    }
    return 0;
}
