#include "install/return_codes.h"

namespace {

struct MeaningWord {
    CodeMeaning meaning;
    const char16_t* word;
};
const MeaningWord kWords[] = {
    {CodeMeaning::kSuccess, u"success"}, {CodeMeaning::kReboot, u"reboot"},   {CodeMeaning::kRebooting, u"rebooting"},
    {CodeMeaning::kRetry, u"retry"},     {CodeMeaning::kFailure, u"failure"},
};

bool MeaningOfWord(const WString& word, CodeMeaning* meaning) {
    for (const MeaningWord& entry : kWords) {
        if (word == entry.word) {
            *meaning = entry.meaning;
            return true;
        }
    }
    return false;
}

}  // namespace

const char16_t* CodeMeaningWord(CodeMeaning meaning) {
    for (const MeaningWord& entry : kWords)
        if (entry.meaning == meaning) return entry.word;
    return u"failure";
}

bool ParseReturnCode(const WString& text, uint32_t* code) {
    const WString t = text.Trimmed();
    if (t.IsEmpty()) return false;
    if (t.StartsWith(u"0x") || t.StartsWith(u"0X")) {
        if (t.Length() == 2 || t.Length() > 10) return false;
        uint32_t value = 0;
        for (int i = 2; i < t.Length(); ++i) {
            const int digit = HexDigitValue(t[i]);
            if (digit < 0) return false;
            value = (value << 4) | static_cast<uint32_t>(digit);
        }
        *code = value;
        return true;
    }
    const bool negative = t[0] == u'-';
    const int first = negative ? 1 : 0;
    if (first == t.Length()) return false;
    uint64_t value = 0;
    for (int i = first; i < t.Length(); ++i) {
        if (t[i] < u'0' || t[i] > u'9') return false;
        value = value * 10 + static_cast<uint64_t>(t[i] - u'0');
        if (value > (negative ? 0x80000000ull : 0xFFFFFFFFull)) return false;
    }
    *code = negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(value)) : static_cast<uint32_t>(value);
    return true;
}

ReturnCodeTable ReturnCodeTable::Parse(const WString& text, Array<ReturnCodeProblem>* problems) {
    ReturnCodeTable table;
    int start = 0;
    for (int i = 0; i <= text.Length(); ++i) {
        if (i < text.Length() && text[i] != u',') continue;
        const WString item = text.Substr(start, i - start).Trimmed();
        start = i + 1;
        if (item.IsEmpty()) continue;
        ReturnCodeProblem problem;
        problem.item = item;
        const int colon = item.FindChar(u':');
        uint32_t code = 0;
        CodeMeaning meaning = CodeMeaning::kFailure;
        if (colon < 0) {
            problem.kind = ReturnCodeProblem::kNoColon;
        } else if (!ParseReturnCode(item.Left(colon), &code)) {
            problem.kind = ReturnCodeProblem::kBadCode;
        } else if (!MeaningOfWord(item.Mid(colon + 1).Trimmed(), &meaning)) {
            problem.kind = ReturnCodeProblem::kBadMeaning;
        } else if (table.Lists(code)) {
            problem.kind = ReturnCodeProblem::kRepeated;
        } else {
            ReturnCodeRule rule;
            rule.code = code;
            rule.meaning = meaning;
            table.rules_.Add(rule);
            continue;
        }
        if (problems) problems->Add(problem);
    }
    return table;
}

bool ReturnCodeTable::Lists(uint32_t code) const {
    for (const ReturnCodeRule& rule : rules_)
        if (rule.code == code) return true;
    return false;
}

CodeMeaning ReturnCodeTable::MeaningOf(uint32_t code) const {
    for (const ReturnCodeRule& rule : rules_)
        if (rule.code == code) return rule.meaning;
    return code == 0 ? CodeMeaning::kSuccess : CodeMeaning::kFailure;
}
