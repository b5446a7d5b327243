// Reference expansion in configured paths and command lines: folder
// properties in square brackets, environment variables between percent signs
// and registry values between exclamation marks. The scanner is portable; the
// three lookups sit behind ReferenceResolver.
#pragma once

#include "base/wstr.h"

class ReferenceResolver {
public:
    virtual ~ReferenceResolver() {}
    // A folder property by exact name; its value ends with a backslash.
    virtual bool FolderProperty(const WString& name, bool use64BitView, WString* value) = 0;
    // An environment variable; empty when unset.
    virtual WString EnvironmentVariable(const WString& name) = 0;
    // ROOT\key\...\ValueName read as text; empty when it cannot be read.
    virtual WString RegistryValue(const WString& path, bool use64BitView) = 0;
};

WString ExpandReferences(const WString& text, bool use64BitView, ReferenceResolver& resolver);

// Every folder property name that the expansion knows, ending with null.
extern const char16_t* const kFolderPropertyNames[];
