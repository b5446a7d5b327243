#include "check/check_tables.h"

#include "config/chainer_settings.h"
#include "config/ini_schema.h"
#include "config/prerequisite.h"
#include "platform/os_info.h"

namespace {

template <class Record>
void AddNames(const KeySchema<Record>* keys, int count, Array<WString>* names) {
    for (int i = 0; i < count; ++i) names->Add(WString(keys[i].name));
}

}  // namespace

Array<WString> KnownKeys(KeySet set) {
    Array<WString> names;
    switch (set) {
        case KeySet::kGeneralOptions: AddNames(kGeneralOptionKeys, kGeneralOptionKeyCount, &names); break;
        case KeySet::kChainer: AddNames(kChainerKeys, kChainerKeyCount, &names); break;
        case KeySet::kPrerequisite:
            for (const LocationKeySchema& key : kLocationKeys) names.Add(WString(key.name));
            AddNames(kPrerequisiteKeys, kPrerequisiteKeyCount, &names);
            break;
        case KeySet::kSearchBases: AddNames(kSearchKeys, kSearchKeyCount, &names); break;
    }
    return names;
}

bool IsKnownKey(KeySet set, const WString& name) {
    for (const WString& key : KnownKeys(set))
        if (key == name) return true;
    return false;
}

bool IsInList(const char16_t* const* list, const WString& name) {
    for (; *list; ++list)
        if (name == *list) return true;
    return false;
}

int NumberedKeyIndex(const WString& key, WString* base) {
    int end = key.Length();
    int start = end;
    while (start > 0 && key[start - 1] >= u'0' && key[start - 1] <= u'9') --start;
    if (start == end || start == 0 || key[start] == u'0' || end - start > 9) return 0;
    int k = 0;
    for (int i = start; i < end; ++i) k = k * 10 + (key[i] - u'0');
    if (base) *base = key.Left(start);
    return k;
}

namespace {

void AddOnce(Array<WString>* names, const WString& name) {
    for (const WString& n : *names)
        if (n == name) return;
    names->Add(name);
}

}  // namespace

const Array<WString>& AllOsNames() {
    static Array<WString>* names = nullptr;
    if (names) return *names;
    names = new Array<WString>();
    // Every version the tables list, asked of the tables themselves over the
    // conditions they distinguish: build numbers up to the newest named
    // one, service packs, server or workstation, 32 or 64 bits.
    static const uint32_t kVersions[][2] = {{11, 0}, {10, 0}, {6, 3}, {6, 2}, {6, 1}, {6, 0}, {5, 2}, {5, 1}};
    for (const auto& version : kVersions) {
        const bool manyBuilds = version[0] >= 10;
        for (int is64 = 1; is64 >= 0; --is64) {
            for (int server = 0; server <= 1; ++server) {
                for (uint32_t sp = 0; sp <= (manyBuilds ? 0u : 4u); ++sp) {
                    WString previous;
                    for (uint32_t build = 0; build <= (manyBuilds ? 30000u : 0u); ++build) {
                        OsInfo info;
                        info.MajorVersion = version[0];
                        info.MinorVersion = version[1];
                        info.BuildNumber = build;
                        info.ServicePackMajor = sp;
                        info.IsServer = server != 0;
                        info.ProductType = server ? 3 : 1;
                        info.Is64BitOs = is64 != 0;
                        WString name = OsDetailedNameOf(info);
                        if (name != previous) AddOnce(names, name);
                        previous = name;
                        if (build == 0) AddOnce(names, OsGenericNameOf(info));
                    }
                }
            }
        }
    }
    AddOnce(names, WString(u"OsNotIdentified"));
    return *names;
}

int EditDistance(const WString& a, const WString& b) {
    const int n = a.Length(), m = b.Length();
    if (n > 200 || m > 200) return 1000;
    Array<int> d;
    for (int i = 0; i < (n + 1) * (m + 1); ++i) d.Add(0);
    auto at = [&](int i, int j) -> int& { return d[i * (m + 1) + j]; };
    for (int i = 0; i <= n; ++i) at(i, 0) = i;
    for (int j = 0; j <= m; ++j) at(0, j) = j;
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= m; ++j) {
            int cost = a[i - 1] == b[j - 1] ? 0 : 1;
            int best = at(i - 1, j) + 1;
            if (at(i, j - 1) + 1 < best) best = at(i, j - 1) + 1;
            if (at(i - 1, j - 1) + cost < best) best = at(i - 1, j - 1) + cost;
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1] && at(i - 2, j - 2) + 1 < best)
                best = at(i - 2, j - 2) + 1;
            at(i, j) = best;
        }
    }
    return at(n, m);
}

WString NearestName(const WString& name, const Array<WString>& candidates) {
    for (const WString& c : candidates)
        if (c.EqualsNoCase(name)) return c;
    WString best;
    int bestDistance = 3;
    // One edit is enough to mistake a short name for another.
    int limit = name.Length() <= 4 ? 1 : 2;
    for (const WString& c : candidates) {
        int distance = EditDistance(name, c);
        if (distance <= limit && distance < bestDistance) {
            best = c;
            bestDistance = distance;
        }
    }
    return best;
}
