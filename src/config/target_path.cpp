#include "config/target_path.h"

#include "config/file_url.h"

namespace {

const char16_t kUrlSeparators[] = u"\\/:*?\"<>|";
// The file name is the end position and at most 40 characters before it.
const int kNameWindow = 41;

bool IsUrlSeparator(char16_t unit) {
    for (const char16_t* p = kUrlSeparators; *p; ++p)
        if (*p == unit) return true;
    return false;
}

}  // namespace

WString FileNameFromUrl(const WString& url) {
    int end = url.Length() - 1;
    if (end < 0) return WString();

    // A URL carrying another URL (a redirector's argument) ends before the
    // inner scheme's "://".
    int scheme = url.Find(u"://");
    if (scheme >= 0) {
        int inner = url.Find(u"://", scheme + 3);
        if (inner >= 0) end = inner;
    }

    // What follows the name's extension (a query, a path after a dotted
    // host) is cut at its first separator.
    int dot = -1;
    for (int i = end; i >= 0; --i) {
        if (url[i] == u'.') {
            dot = i;
            break;
        }
    }
    if (dot >= 0) {
        for (int i = dot + 1; i < end; ++i) {
            if (IsUrlSeparator(url[i])) {
                end = i - 1;
                break;
            }
        }
    }

    int lowest = end - (kNameWindow - 1);
    if (lowest < 0) lowest = 0;
    for (int i = end; i >= lowest; --i) {
        if (IsUrlSeparator(url[i])) return url.Substr(i + 1, end - i);
    }
    return url.Substr(lowest, end - lowest + 1);
}

WString DownloadTargetPath(const WString& downloadFolder, const WString& location, const WString& folder) {
    WString path = downloadFolder;
    if (!path.IsEmpty() && path.Last() != u'\\') path.Append(u'\\');

    WString subfolder = folder;
    WString fileName;
    int question = folder.FindChar(u'?');
    if (question >= 0) {
        subfolder = folder.Left(question);
        fileName = folder.Mid(question + 1);
    }

    path.Append(subfolder);
    if (!path.IsEmpty() && path.Last() != u'\\') path.Append(u'\\');
    path.Append(fileName.IsEmpty() ? FileNameFromUrl(location) : fileName);
    return path;
}

namespace {

// True when name is base or one of the files a download to base writes
// beside it: a part file ("<base>.part", a mirror's "<base>.part<k>") and
// the validator kept with it ("<part file>.validator").
bool IsCompanion(const WString& name, const WString& base) {
    if (name.Length() < base.Length() || !name.Left(base.Length()).EqualsNoCase(base)) return false;
    WString rest = name.Mid(base.Length());
    if (rest.IsEmpty()) return true;
    if (!rest.StartsWithNoCase(u".part")) return false;
    rest = rest.Mid(5);
    int digits = 0;
    while (digits < rest.Length() && rest[digits] >= u'0' && rest[digits] <= u'9') ++digits;
    rest = rest.Mid(digits);
    return rest.IsEmpty() || rest.EqualsNoCase(u".validator");
}

// Taken when any file the path's download writes equals one an earlier
// target's download writes.
bool TargetTaken(const Array<WString>& taken, const WString& path) {
    for (int i = 0; i < taken.Size(); ++i)
        if (IsCompanion(path, taken[i]) || IsCompanion(taken[i], path)) return true;
    return false;
}

WString WithSubfolder(const WString& path, int appNumber, int attempt) {
    const int slash = path.FindLastChar(u'\\');
    WString moved = path.Left(slash + 1);
    moved.AppendAscii("App").AppendDecimal(appNumber);
    if (attempt > 1) moved.Append(u'-').AppendDecimal(attempt);
    moved.Append(u'\\').Append(path.Mid(slash + 1));
    return moved;
}

}  // namespace

void DistinctDownloadTargets(Array<WString>* targets, const Array<int>& appNumbers, Array<bool>* changed) {
    Array<WString> taken;
    changed->Clear();
    for (int i = 0; i < targets->Size(); ++i) {
        WString path = (*targets)[i];
        bool moved = false;
        if (!path.IsEmpty() && TargetTaken(taken, path)) {
            const int number = i < appNumbers.Size() ? appNumbers[i] : i + 1;
            WString candidate;
            for (int attempt = 1;; ++attempt) {
                candidate = WithSubfolder(path, number, attempt);
                if (!TargetTaken(taken, candidate)) break;
            }
            path = candidate;
            (*targets)[i] = path;
            moved = true;
        }
        taken.Add(path);
        changed->Add(moved);
    }
}

Array<WString> DownloadTargets(const Array<Prerequisite>& items, const WString& downloadFolder, Array<bool>* moved) {
    Array<WString> targets;
    Array<int> numbers;
    for (int i = 0; i < items.Size(); ++i) {
        const Prerequisite& p = items[i];
        const bool downloads = p.LocationKind == kLocationUrl && !IsLocalFileUrl(p.Location);
        targets.Add(downloads ? DownloadTargetPath(downloadFolder, p.Location, p.Folder) : WString());
        numbers.Add(i + 1);
    }
    DistinctDownloadTargets(&targets, numbers, moved);
    return targets;
}
