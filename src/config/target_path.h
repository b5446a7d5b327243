// Where a downloaded setup file is stored: the download folder, the
// prerequisite's subfolder and a file name given in its Folder text or taken
// from its URL. Portable; shared by the evaluation and the download manager.
#pragma once

#include "base/array.h"
#include "base/wstr.h"
#include "config/prerequisite.h"

// The file name part of a URL: the text after the last separator of
// \/:*?"<>| before the end, where the end is the last character, or the ":"
// of a second "://", or the character before the first separator that
// follows the last "."; at most 41 characters.
WString FileNameFromUrl(const WString& url);

// downloadFolder + subfolder + file name. Folder is "subfolder" or
// "subfolder?file name"; without a file name there, the name comes from the
// location. Backslashes are put between the parts where missing.
WString DownloadTargetPath(const WString& downloadFolder, const WString& location, const WString& folder);

// Two prerequisites never share a download target (nor so its ".part"
// file): the first keeps the path above; a later one whose path equals an
// earlier target (letter case aside) gets the subfolder "App<N>" (N its
// number in PREREQUISITES) between the path's folder and its file name, and
// again on the next free "App<N>-2", "App<N>-3", ... where that is taken
// too. targets holds the paths in list order; appNumbers their N; changed
// marks the ones moved.
void DistinctDownloadTargets(Array<WString>* targets, const Array<int>& appNumbers, Array<bool>* changed);

// The download target of every prerequisite, in list order, made distinct as
// above: empty for one that downloads nothing (a SetupFile, an OpenSite, a
// file URL, which is installed where it lies). moved marks the ones given a
// subfolder. downloadFolder is the resolved download folder.
Array<WString> DownloadTargets(const Array<Prerequisite>& items, const WString& downloadFolder, Array<bool>* moved);
