#include "platform/references.h"

namespace {

char16_t CloserFor(char16_t opener) { return opener == u'[' ? u']' : opener; }

// Where the search for the closer begins, relative to the opener: "[" looks
// from the opener itself, "%" from the next unit, "!" from the unit after
// that (so "!!" does not close at once).
int CloserSearchOffset(char16_t opener) {
    switch (opener) {
        case u'[':
            return 0;
        case u'%':
            return 1;
        default:
            return 2;
    }
}

}  // namespace

WString ExpandReferences(const WString& text, bool use64BitView, ReferenceResolver& resolver) {
    WString result;
    const int length = text.Length();
    int position = 0;
    while (position < length) {
        int opener = text.FindFirstOf(u"[%!", position);
        if (opener < 0) break;
        const char16_t kind = text[opener];
        const int searchFrom = opener + CloserSearchOffset(kind);
        const int closer = searchFrom < length ? text.FindChar(CloserFor(kind), searchFrom) : -1;
        if (closer < 0) break;  // the rest, from the opener on, is copied below

        result.Append(text.c_str() + position, opener - position);
        const WString name = text.Substr(opener + 1, closer - opener - 1);
        if (kind == u'[') {
            WString value;
            if (resolver.FolderProperty(name, use64BitView, &value)) {
                result.Append(value);
            } else {
                result.Append(text.c_str() + opener, closer - opener + 1);
            }
        } else if (kind == u'%') {
            result.Append(resolver.EnvironmentVariable(name));
        } else {
            result.Append(resolver.RegistryValue(name, use64BitView));
        }
        // Replacement text is never scanned again.
        position = closer + 1;
    }
    if (position < length) result.Append(text.c_str() + position, length - position);
    return result;
}

const char16_t* const kFolderPropertyNames[] = {
    u"ProgramFiles64Folder", u"SystemFolder", u"System32Folder", u"WindowsFolder", u"WindowsVolume",
    u"TempFolder", u"SETUPEXEDIR", u"ProgramFilesFolder", u"CommonFilesFolder", u"DesktopFolder",
    u"AllUsersDesktopFolder", u"AppDataFolder", u"FavoritesFolder", u"StartMenuFolder", u"ProgramMenuFolder",
    u"StartupFolder", u"FontsFolder", u"LocalAppDataFolder", u"CommonAppDataFolder", u"ProgramFiles", nullptr};
