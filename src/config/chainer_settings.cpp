#include "config/chainer_settings.h"
#include "config/ini_schema.h"

bool LoadChainerSettings(const IniDocument& document, ChainerSettings* settings) {
    *settings = ChainerSettings();
    const IniSection* section = document.FindSection(WString(kChainerSection));
    if (!section) return false;
    ReadKeys(*section, kChainerKeys, kChainerKeyCount, settings);
    return true;
}
