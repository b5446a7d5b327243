// The system's reference resolver: folder properties, environment variables
// and registry values of this machine.
#pragma once

#include "base/wstr.h"
#include "platform/references.h"

ReferenceResolver& SystemReferences();
// ExpandReferences with the system's resolver.
WString ExpandSystemReferences(const WString& text, bool use64BitView);
bool ResolveFolderProperty(const WString& name, bool use64BitView, WString* value);
// Resolves only the folder properties in square brackets; environment and
// registry references stay as they are written (command lines of setups).
WString ExpandFolderProperties(const WString& text, bool use64BitView);
