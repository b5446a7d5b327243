#include "config/ini_schema.h"
#include "config/prerequisite.h"
#include "platform/path_rules.h"

bool LoadGeneralOptions(const IniDocument& document, GeneralOptions* options) {
    const IniSection* section = document.FindSection(WString(kGeneralOptionsSection));
    if (!section) return true;

    ReadKeys(*section, kGeneralOptionKeys, kGeneralOptionKeyCount, options);

    // The extraction folder is kept in its rejoined form, ending with a
    // backslash, so that the package file locator can append names to it.
    options->ExtractionFolder = NormalisePath(options->ExtractionFolder);
    if (!options->ExtractionFolder.IsEmpty() && options->ExtractionFolder.Last() != u'\\')
        options->ExtractionFolder.Append(u'\\');
    return true;
}
