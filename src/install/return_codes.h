// What a setup's return code means for the run: the prerequisite's
// ReturnCodes table ("code:meaning", comma-separated), and for any code it
// does not list the rule of every package (0 succeeds, anything else
// fails). Portable.
#pragma once

#include <stdint.h>

#include "base/array.h"
#include "base/wstr.h"

enum class CodeMeaning {
    kSuccess,    // the setup succeeded
    kReboot,     // it succeeded and a restart is needed later: the chain goes on
    kRebooting,  // it succeeded and has started a restart itself: nothing more is launched
    kRetry,      // it could not run now (another installation runs): it is started again later
    kFailure,
};

// The word of a meaning as ReturnCodes writes it ("success", "reboot", ...).
const char16_t* CodeMeaningWord(CodeMeaning meaning);

struct ReturnCodeRule {
    uint32_t code = 0;
    CodeMeaning meaning = CodeMeaning::kFailure;
};

// An item of a ReturnCodes text the chainer does not take, and why.
struct ReturnCodeProblem {
    enum Kind { kNoColon, kBadCode, kBadMeaning, kRepeated };
    Kind kind = kNoColon;
    WString item;  // trimmed
};

class ReturnCodeTable {
public:
    // Reads a ReturnCodes text: items separated by commas, each "code:meaning"
    // with blanks allowed around both; a code in decimal (an optional "-",
    // two's complement for the 32 bits) or hexadecimal after "0x"/"0X",
    // within 32 bits; a meaning one of the words above, exactly. An item
    // that is not so is passed over (and reported in problems); the first
    // rule of a code wins over a repeated one.
    static ReturnCodeTable Parse(const WString& text, Array<ReturnCodeProblem>* problems = nullptr);

    CodeMeaning MeaningOf(uint32_t code) const;
    // The code has a rule of its own (not the rule of every package).
    bool Lists(uint32_t code) const;
    const Array<ReturnCodeRule>& Rules() const { return rules_; }
    bool IsEmpty() const { return rules_.IsEmpty(); }

private:
    Array<ReturnCodeRule> rules_;
};

// A code as decimal, negative decimal or 0x hexadecimal text, within 32
// bits (a negative one as its two's complement); false for anything else.
bool ParseReturnCode(const WString& text, uint32_t* code);

// A setup that asks to be started again (meaning retry) is, after a pause
// of kRetryPauseMs, started at most kRetryLaunches more times; then it
// counts as failed.
constexpr int kRetryLaunches = 3;
constexpr uint32_t kRetryPauseMs = 5000;
