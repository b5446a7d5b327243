// Fuzzes the path rules: splitting, normalising, roots and long-path prefixes.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "platform/path_rules.h"

namespace {

void Check(const WString& path) {
    Array<WString> elements = SplitPath(path);
    if (elements.Size() < 1) abort();
    // Rejoining the elements with backslashes gives the path back.
    WString joined = elements[0];
    for (int i = 1; i < elements.Size(); ++i) {
        joined.Append(u'\\');
        joined.Append(elements[i]);
    }
    if (joined != path) abort();

    WString normalised = NormalisePath(path);
    if (normalised.Length() > path.Length()) abort();
    if (NormalisePath(normalised) != normalised) abort();

    RootOfPath(path);
    ParentFolder(path);
    FileNameOfPath(path);
    IsAbsolutePath(path);

    WString (*const variants[])(const WString&) = {AddLongPrefixForFinder, AddLongPrefixForStorage,
                                                   AddLongPrefixForDelete};
    for (auto add : variants) {
        WString prefixed = add(path);
        if (add(prefixed) != prefixed) abort();  // never prefixed twice
        if (RemoveLongPrefix(prefixed) != RemoveLongPrefix(path)) abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Bytes map onto a small alphabet rich in the characters that matter.
    static const char16_t kAlphabet[] = u"\\\\\\?:.. ]a[UNC%C";
    WString path;
    for (size_t i = 0; i < size; ++i) path.Append(kAlphabet[data[i] % (sizeof(kAlphabet) / sizeof(char16_t) - 1)]);
    Check(path);
    // Long inputs around the prefix thresholds.
    if (size > 0 && size < 64) {
        WString longPath = path;
        int target = 240 + data[0] % 32;
        while (longPath.Length() < target) longPath.Append(u'x');
        Check(longPath);
        Check(WString(u"C:\\") + longPath);
        Check(WString(u"\\\\srv\\") + longPath);
    }
    return 0;
}
