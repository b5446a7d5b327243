// The executable's texts and dialogs in the language the user reads (see
// platform/text_language.h): every string and every dialog template is
// looked up in that language first and in English when it has none, so the
// windows and their texts always agree.
#pragma once

#include <windows.h>

#include "base/wstr.h"

// The language chosen for this process, once: from the user's UI language
// and the languages of the executable's string table.
LANGID TextLanguageId();

// A dialog template of the executable in the text language, else English;
// null when there is none.
const DLGTEMPLATE* TextDialogTemplate(UINT id);

// A string of the executable's string table in the text language, else in
// English; empty when there is none.
WString LoadResourceString(UINT id);
