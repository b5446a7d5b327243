#include "check/package_folder.h"

#include <stdio.h>

#include "check/diagnostics.h"
#include "download/md5.h"
#include "download/sha256.h"

namespace {

FILE* OpenFile(const WString& path, bool write) {
#ifdef _WIN32
    return _wfopen(reinterpret_cast<const wchar_t*>(path.c_str()), write ? L"wb" : L"rb");
#else
    return fopen(Utf8(path).c_str(), write ? "wb" : "rb");
#endif
}

}  // namespace

bool ReadWholeFile(const WString& path, Array<uint8_t>* bytes) {
    FILE* file = OpenFile(path, false);
    if (!file) return false;
    bytes->Clear();
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0)
        for (size_t i = 0; i < n; ++i) bytes->Add(buffer[i]);
    bool ok = !ferror(file);
    fclose(file);
    return ok;
}

bool WriteWholeFile(const WString& path, const Array<uint8_t>& bytes) {
    FILE* file = OpenFile(path, true);
    if (!file) return false;
    bool ok = bytes.IsEmpty() || fwrite(bytes.begin(), 1, static_cast<size_t>(bytes.Size()), file) == static_cast<size_t>(bytes.Size());
    return fclose(file) == 0 && ok;
}

bool PackageFolder::Describe(const WString& relativePath, FileFacts* facts) {
    WString path = folder_;
#ifdef _WIN32
    const char16_t separator = u'\\';
#else
    const char16_t separator = u'/';
#endif
    if (!path.IsEmpty() && path.Last() != u'/' && path.Last() != u'\\') path.Append(separator);
    for (int i = 0; i < relativePath.Length(); ++i)
        path.Append(relativePath[i] == u'\\' ? separator : relativePath[i]);
    FILE* file = OpenFile(path, false);
    if (!file) return false;
    ExpectedFile both;
    both.md5 = u"?";
    both.sha256 = u"?";
    FileDigester digester(both);
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0) digester.Update(buffer, n);
    fclose(file);
    *facts = digester.Finish();
    return true;
}
