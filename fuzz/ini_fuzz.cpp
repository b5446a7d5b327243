// Fuzzes the configuration reader: bytes as they come from the file.
#include <stddef.h>
#include <stdint.h>

#include "config/ini_document.h"
#include "config/ini_path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    IniDocument document;
    document.Parse(ConfigurationTextFromBytes(data, size));
    for (const IniSection& section : document.Sections()) {
        document.FindSection(section.Name());
        for (const IniPair& pair : section.Pairs()) section.FindValue(pair.key);
    }
    return 0;
}
