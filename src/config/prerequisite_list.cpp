#include "config/prerequisite.h"

void PrerequisiteList::Load(const IniDocument&, ReferenceResolver&) {}
