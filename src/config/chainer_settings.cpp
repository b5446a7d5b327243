#include "config/chainer_settings.h"

bool LoadChainerSettings(const IniDocument& document, ChainerSettings* settings) {
    *settings = ChainerSettings();
    const IniSection* section = document.FindSection(u"PREREQ_CHAINER");
    if (!section) return false;
    struct Field {
        const char16_t* key;
        WString ChainerSettings::*member;
    };
    static const Field kFields[] = {
        {u"CleanupFiles", &ChainerSettings::CleanupFiles},
        {u"CleanupFolders", &ChainerSettings::CleanupFolders},
        {u"LogFile", &ChainerSettings::LogFile},
        {u"CleanupScript", &ChainerSettings::CleanupScript},
    };
    for (const Field& field : kFields)
        if (const IniPair* pair = section->FindValue(field.key)) settings->*field.member = pair->value;
    return true;
}
