#include "evaluation/references.h"

WString ExpandReferences(const WString& text, bool, ReferenceResolver&) { return text; }
