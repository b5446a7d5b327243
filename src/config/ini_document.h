// The configuration file's parsed form: sections in file order, each with its
// key/value pairs in line order. Lookups are exact and case-sensitive and the
// first match wins.
#pragma once

#include "base/array.h"
#include "base/wstr.h"

struct IniPair {
    WString key;
    WString value;
    int line = 0;  // line of the file it was read from, counting from 1 (0: not read from a file)
};

class IniSection {
public:
    IniSection() {}
    explicit IniSection(const WString& name, int line = 0) : name_(name), line_(line) {}
    const WString& Name() const { return name_; }
    // The line of the section's header, counting from 1 (0: not read from a file).
    int Line() const { return line_; }
    const Array<IniPair>& Pairs() const { return pairs_; }
    // The first pair whose key equals the given text, or null.
    const IniPair* FindValue(const WString& key) const;
    // Appends a pair and returns it (null when it could not be stored).
    IniPair* AddValue(const WString& key, const WString& value, int line = 0);

private:
    WString name_;
    int line_ = 0;
    Array<IniPair> pairs_;
};

// A source of settings by section and key.
class SettingsSource {
public:
    virtual ~SettingsSource() {}
    virtual bool QueryStatus(int* status) = 0;
    virtual bool GetValue(const WString& section, const WString& key, WString* value) = 0;
    virtual void ListSections(Array<WString>* names) = 0;
    virtual void SetValue(const WString& section, const WString& key, const WString& value) = 0;
    virtual void Flush() = 0;
};

class IniDocument : public SettingsSource {
public:
    // Discards what the document held, then fills it from the text.
    void Parse(const WString& text);
    const IniSection* FindSection(const WString& name) const;
    IniSection* AddSection(const WString& name, int line = 0);
    const Array<IniSection>& Sections() const { return sections_; }

    // Convenience for the typed readers: the value of the first matching key
    // of the first matching section, or null.
    const WString* Lookup(const WString& section, const WString& key) const;

    bool QueryStatus(int* status) override;
    bool GetValue(const WString& section, const WString& key, WString* value) override;
    void ListSections(Array<WString>* names) override;
    void SetValue(const WString& section, const WString& key, const WString& value) override;
    void Flush() override {}

private:
    Array<IniSection> sections_;
};
