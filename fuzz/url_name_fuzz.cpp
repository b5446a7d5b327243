// Fuzzes the file name taken from a URL and the download target path: the
// bytes are UTF-16 units, split into location and folder at the first NUL.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "config/target_path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t units = size / 2;
    char16_t* text = static_cast<char16_t*>(malloc((units + 1) * sizeof(char16_t)));
    if (!text) return 0;
    for (size_t i = 0; i < units; ++i) text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    text[units] = 0;
    size_t split = 0;
    while (split < units && text[split]) ++split;
    WString location(text, static_cast<int>(split));
    WString folder = split < units ? WString(text + split + 1) : WString();

    WString name = FileNameFromUrl(location);
    if (name.Length() > 41 || name.Length() > location.Length()) abort();
    WString path = DownloadTargetPath(WString(u"C:\\dl"), location, folder);
    if (!path.StartsWith(u"C:\\dl\\")) abort();
    free(text);
    return 0;
}
