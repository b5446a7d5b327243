// Fuzzes the reference scanner with arbitrary UTF-16 text and a resolver
// whose answers themselves contain openers and closers.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "platform/references.h"

namespace {

class EchoResolver : public ReferenceResolver {
public:
    bool FolderProperty(const WString& name, bool, WString* value) override {
        if (name.Length() % 2) return false;
        *value = u"[" + name + u"]%!\\";
        return true;
    }
    WString EnvironmentVariable(const WString& name) override { return name + u"%"; }
    WString RegistryValue(const WString& path, bool use64BitView) override {
        return use64BitView ? WString(u"!") : path;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool use64 = (data[0] & 1) != 0;
    ++data;
    --size;
    const int units = static_cast<int>(size / 2);
    char16_t* text = static_cast<char16_t*>(malloc((static_cast<size_t>(units) + 1) * sizeof(char16_t)));
    for (int i = 0; i < units; ++i) {
        // Map a few byte values onto the openers so that they are frequent.
        uint16_t unit = static_cast<uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        switch (unit & 0x0F00) {
            case 0x0100: unit = u'['; break;
            case 0x0200: unit = u']'; break;
            case 0x0300: unit = u'%'; break;
            case 0x0400: unit = u'!'; break;
            default: break;
        }
        text[i] = static_cast<char16_t>(unit);
    }
    EchoResolver resolver;
    WString input(text, units);
    WString output = ExpandReferences(input, use64, resolver);
    // Text without any opener comes back unchanged.
    if (input.FindFirstOf(u"[%!") < 0 && !(output == input)) abort();
    free(text);
    return 0;
}
