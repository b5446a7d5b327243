#include "evaluation/references_win.h"

namespace {
class SystemResolver : public ReferenceResolver {
public:
    bool FolderProperty(const WString&, bool, WString*) override { return false; }
    WString EnvironmentVariable(const WString&) override { return WString(); }
    WString RegistryValue(const WString&, bool) override { return WString(); }
};
}  // namespace

static SystemResolver g_systemResolver;

ReferenceResolver& SystemReferences() { return g_systemResolver; }

WString ExpandSystemReferences(const WString& text, bool use64BitView) {
    return ExpandReferences(text, use64BitView, SystemReferences());
}

bool ResolveFolderProperty(const WString&, bool, WString*) { return false; }
