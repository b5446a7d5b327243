// The progress dialog's bar as a model of the whole run, apart from any
// window: one range for every phase, downloads weighted by their sizes where
// they are known and everything else by count, a marquee while a download's
// size is unknown, an item done only when it has ended; and the download's
// rate and time left. Portable; the clock is passed in.
#pragma once

#include <stdint.h>

#include "base/array.h"
#include "engine/run_outcome.h"

// One piece of work the run is expected to do, in the order of the run:
// downloads, then web sites, then installs. size: the expected bytes of a
// download (its ExactSize), 0 when unknown.
struct PlannedWork {
    WorkKind kind = WorkKind::Install;
    uint64_t size = 0;
};

class ProgressModel {
public:
    // The bar's range: 0 to kRange for the whole run.
    static constexpr int32_t kRange = 10000;

    // The run's expected work; without it every phase counts as the last.
    void SetPlan(const Array<PlannedWork>& plan);
    // A phase of count items starts with the next item.
    void SetPhaseCount(uint64_t count);
    // The next item of that kind begins; the item before it has ended.
    void StartItem(WorkKind kind);
    // The current download's size (0: still unknown) and its bytes.
    void TransferStarted(uint64_t total);
    void AddBytes(uint64_t bytes, uint32_t nowMs);
    // The current download's file is in place.
    void TransferDone();
    // The work waits (a stall, a retry); the rate is measured afresh after it.
    void Waiting();
    // The current item failed: it is not done.
    void ItemFailed();
    // Everything went through.
    void SequenceDone();

    int32_t Position() const;
    bool Marquee() const;
    WorkKind CurrentKind() const { return kind_; }
    // The current item within its phase, from 1, and the phase's count.
    int32_t ItemNumber() const { return item_ + 1; }
    int32_t PhaseCount() const { return count_; }
    bool HasItem() const { return item_ >= 0; }
    // The current download: bytes so far and its size (0: unknown).
    uint64_t BytesDone() const { return done_; }
    uint64_t BytesTotal() const { return total_; }
    // Bytes per second over the last seconds; 0 until a second is measured.
    uint64_t BytesPerSecond() const;
    // Seconds until the download is complete at that rate; -1 when unknown.
    int64_t SecondsLeft() const;

private:
    void LayOutPhase(WorkKind kind, int32_t count);
    int32_t Boundary(int32_t item) const;

    Array<PlannedWork> plan_;
    bool phasePending_ = false;
    int32_t pendingCount_ = 0;
    WorkKind kind_ = WorkKind::Download;
    bool inPhase_ = false;
    int32_t count_ = 0;
    int32_t item_ = -1;
    int32_t phaseStart_ = 0;
    int32_t phaseShare_ = 0;
    Array<uint64_t> cumulative_;  // weights before item k; count_ + 1 entries
    int32_t floor_ = 0;           // the items done: the bar never goes below
    bool fileInPlace_ = false;
    bool failed_ = false;
    bool restarted_ = false;  // the next bytes are those held, not added
    bool finished_ = false;
    uint64_t done_ = 0;
    uint64_t total_ = 0;
    // Rate samples: (time, bytes done), oldest first.
    struct Sample {
        uint32_t ms;
        uint64_t bytes;
    };
    Array<Sample> samples_;
};

// The rate or time left as the dialog words them.
struct RateAmount {
    enum Unit { kKilobytes = 0, kMegabytes = 1 };
    WString value;  // "850" KB/s, "1.2" MB/s
    Unit unit;
};
RateAmount RateAmountOf(uint64_t bytesPerSecond);

struct TimeLeft {
    enum Unit { kSeconds = 0, kMinutes = 1, kHours = 2 };
    uint32_t value;    // seconds (in fives from ten on), minutes, or hours
    uint32_t minutes;  // kHours: the minutes past the hours
    Unit unit;
};
TimeLeft TimeLeftOf(int64_t seconds);

// The argument a one-%s format was filled with: "Installing %s" and
// "Installing Foo" give "Foo". False when the text does not have the format's
// shape.
bool ArgumentOfFormat(const WString& format, const WString& text, WString* argument);

// The status line within a width: text, then suffix (kept whole); when that
// is too wide the end of text gives way to an ellipsis. measure answers the
// width of a text.
typedef int (*MeasureText)(const WString& text, void* context);
WString FitLine(const WString& text, const WString& suffix, int width, MeasureText measure, void* context);
