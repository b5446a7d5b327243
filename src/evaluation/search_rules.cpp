#include "evaluation/search_rules.h"

#include "config/prerequisite.h"

SearchRange::SearchRange(const WString& verMin, const WString& verMax)
    : minimum(ParseVersion(verMin)), maximum(ParseVersion(verMax)) {}

bool FoundValuesAcceptable(const Array<WString>& values, const SearchRange& range) {
    if (values.IsEmpty()) return false;
    if (!range.HasBound()) return true;
    for (const WString& text : values) {
        VersionValue value = ParseVersion(text);
        if (value.IsZero()) continue;
        if (InRangeAccept(value, range.minimum, range.maximum)) return true;
    }
    return false;
}

void SplitDepthSuffix(const WString& searchString, WString* pathPart, WString* suffix) {
    int question = searchString.FindChar(u'?', 1);
    if (question < 0) {
        *pathPart = searchString;
        suffix->Clear();
        return;
    }
    *pathPart = searchString.Left(question);
    *suffix = searchString.Mid(question);
}

int32_t DepthOfSuffix(const WString& suffix) {
    if (suffix.IsEmpty()) return 0;
    int32_t depth = ParseLenientInt(suffix.Mid(1));
    return depth > 0 ? depth : 0;
}

bool IsPathLikeFileSearch(const WString& pathPart) { return pathPart.FindFirstOf(u"\\]%!") >= 0; }

bool SearchCombiner::Add(bool found) {
    bool initial = op_ == 0;
    if (op_ == 0)
        answer_ = answer_ && found;
    else if (op_ == 1)
        answer_ = answer_ || found;
    return answer_ == initial;
}

const char16_t* ActionStatusText(int32_t action) {
    switch (action) {
        case kActionPresent:
            return u"An acceptable version was found.";
        case kActionInstall:
            return u"No acceptable version found. It must be installed from package.";
        case kActionDownload:
            return u"No acceptable version found. It must be downloaded.";
        case kActionOpenSite:
            return u"No acceptable version found. It must be downloaded manually from a site.";
        case kActionNotSupported:
            return u"No acceptable version found. Operating System not supported.";
        case kActionDownloaded:
            return u"No acceptable version found. It is already downloaded and it will be installed.";
        case kActionNotFound:
            return u"No acceptable version found.";
        case kActionNotSelected:
            return u"Not selected for install.";
        default:
            return u"Undefined";
    }
}

bool CollectedFileVersion(FileVersionRead read, uint32_t versionMS, uint32_t versionLS, WString* text) {
    if (read == FileVersionRead::kReaderMissing) return false;
    if (read == FileVersionRead::kNoResource) versionMS = versionLS = 0;
    *text = Format(u"%d.%d.%d.%d", static_cast<int>(versionMS >> 16), static_cast<int>(versionMS & 0xFFFFu),
                   static_cast<int>(versionLS >> 16), static_cast<int>(versionLS & 0xFFFFu));
    return true;
}
