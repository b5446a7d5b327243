#include "config/ini_document.h"

const IniPair* IniSection::FindValue(const WString& key) const {
    for (const IniPair& pair : pairs_)
        if (pair.key == key) return &pair;
    return nullptr;
}

IniPair* IniSection::AddValue(const WString& key, const WString& value, int line) {
    IniPair pair;
    pair.key = key;
    pair.value = value;
    pair.line = line;
    if (!pairs_.Add(pair)) return nullptr;
    return &pairs_[pairs_.Size() - 1];
}

const IniSection* IniDocument::FindSection(const WString& name) const {
    for (const IniSection& section : sections_)
        if (section.Name() == name) return &section;
    return nullptr;
}

IniSection* IniDocument::AddSection(const WString& name, int line) {
    if (!sections_.Add(IniSection(name, line))) return nullptr;
    return &sections_[sections_.Size() - 1];
}

const WString* IniDocument::Lookup(const WString& section, const WString& key) const {
    const IniSection* s = FindSection(section);
    if (!s) return nullptr;
    const IniPair* p = s->FindValue(key);
    return p ? &p->value : nullptr;
}

static void ParseLine(IniDocument* doc, const char16_t* line, int length, int lineNumber, IniSection** current) {
    int start = 0;
    while (start < length && line[start] <= 0x20) ++start;
    if (start == length) return;
    if (line[start] == u'[') {
        int last = length - 1;
        while (last > start && line[last] <= 0x20) --last;
        if (last > start && line[last] == u']') {
            IniSection* added = doc->AddSection(WString(line + start + 1, last - start - 1), lineNumber);
            // A section that could not be stored is dropped; its keys then
            // belong to no section.
            *current = added;
            return;
        }
    }
    if (!*current) return;
    int eq = -1;
    for (int i = 0; i < length; ++i) {
        if (line[i] == u'=') {
            eq = i;
            break;
        }
    }
    if (eq < 0) return;
    WString key = WString(line, eq).Trimmed();
    WString value = WString(line + eq + 1, length - eq - 1).Trimmed();
    (*current)->AddValue(key, value, lineNumber);
}

void IniDocument::Parse(const WString& text) {
    sections_.Clear();
    const char16_t* s = text.c_str();
    int length = text.Length();
    IniSection* current = nullptr;
    int lineStart = 0;
    bool first = true;
    int lineNumber = 1;
    while (lineStart < length) {
        int end = lineStart;
        while (end < length && !(s[end] == u'\r' && end + 1 < length && s[end + 1] == u'\n')) ++end;
        int begin = lineStart;
        if (first && begin < end && s[begin] == 0xFEFF) ++begin;
        first = false;
        ParseLine(this, s + begin, end - begin, lineNumber, &current);
        if (end >= length) break;
        lineStart = end + 2;
        ++lineNumber;
    }
}

bool IniDocument::QueryStatus(int* status) {
    if (status) *status = 0;
    return true;
}

bool IniDocument::GetValue(const WString& section, const WString& key, WString* value) {
    const WString* found = Lookup(section, key);
    if (!found) return false;
    if (value) *value = *found;
    return true;
}

void IniDocument::ListSections(Array<WString>* names) {
    names->Clear();
    for (const IniSection& section : sections_) names->Add(section.Name());
}

void IniDocument::SetValue(const WString& section, const WString& key, const WString& value) {
    IniSection* target = nullptr;
    for (IniSection& s : sections_) {
        if (s.Name() == section) {
            target = &s;
            break;
        }
    }
    if (!target) target = AddSection(section);
    if (target) target->AddValue(key, value);
}
