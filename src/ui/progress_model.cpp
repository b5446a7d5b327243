#include "ui/progress_model.h"

namespace {

// Phases run in this order: downloads, web sites, installs.
int PhaseOrder(WorkKind kind) {
    switch (kind) {
        case WorkKind::Download: return 0;
        case WorkKind::OpenSite: return 1;
        case WorkKind::Install: return 2;
    }
    return 2;
}

// The dialog's item count is held here, as the 16-bit range form held it.
constexpr int32_t kMaxItems = 0xFFFF;
// Rate samples: one at most every half second, over at most five seconds.
constexpr uint32_t kSampleStepMs = 500;
constexpr uint32_t kSampleSpanMs = 5000;
constexpr uint32_t kMinimumSpanMs = 1000;

}  // namespace

void ProgressModel::SetPlan(const Array<PlannedWork>& plan) { plan_ = plan; }

void ProgressModel::SetPhaseCount(uint64_t count) {
    phasePending_ = true;
    pendingCount_ = count > static_cast<uint64_t>(kMaxItems) ? kMaxItems : static_cast<int32_t>(count);
}

int32_t ProgressModel::Boundary(int32_t item) const {
    if (item <= 0) return phaseStart_;
    if (item >= count_) return phaseStart_ + phaseShare_;
    const uint64_t all = cumulative_[count_];
    if (all == 0) return phaseStart_;
    return phaseStart_ + static_cast<int32_t>(static_cast<uint64_t>(phaseShare_) * cumulative_[item] / all);
}

void ProgressModel::LayOutPhase(WorkKind kind, int32_t count) {
    if (inPhase_) {
        const int32_t end = phaseStart_ + phaseShare_;
        if (end > floor_) floor_ = end;
    }
    kind_ = kind;
    inPhase_ = true;
    count_ = count;
    item_ = -1;
    phaseStart_ = floor_;
    // The phases after this one keep their planned share of what is left.
    uint64_t later = 0;
    for (const PlannedWork& work : plan_)
        if (PhaseOrder(work.kind) > PhaseOrder(kind)) ++later;
    const uint64_t units = static_cast<uint64_t>(count) + later;
    const uint64_t left = static_cast<uint64_t>(kRange - phaseStart_);
    phaseShare_ = units ? static_cast<int32_t>(left * static_cast<uint64_t>(count) / units) : 0;

    // Downloads share their phase by their expected sizes when the plan
    // holds as many as the phase has; an unknown size weighs as the mean of
    // the known ones. Everything else counts alike.
    Array<uint64_t> weights;
    int planned = 0;
    uint64_t known = 0, knownSum = 0;
    for (const PlannedWork& work : plan_) {
        if (work.kind != kind) continue;
        ++planned;
        if (work.size) {
            ++known;
            knownSum += work.size;
        }
    }
    const bool bySize = kind == WorkKind::Download && planned == count && known > 0;
    for (const PlannedWork& work : plan_) {
        if (!bySize) break;
        if (work.kind == kind) weights.Add(work.size ? work.size : knownSum / known);
    }
    cumulative_.Clear();
    cumulative_.Add(0);
    uint64_t sum = 0;
    for (int32_t i = 0; i < count; ++i) {
        // A zero size still takes a sliver, so that every item moves the bar.
        uint64_t weight = bySize ? weights[i] : 1;
        sum += weight ? weight : 1;
        cumulative_.Add(sum);
    }
}

void ProgressModel::StartItem(WorkKind kind) {
    if (inPhase_ && item_ >= 0) {
        // The item before has ended.
        const int32_t end = Boundary(item_ + 1);
        if (end > floor_) floor_ = end;
    }
    if (phasePending_ || !inPhase_ || kind != kind_) {
        int32_t count = pendingCount_;
        if (!phasePending_) {
            count = 0;
            for (const PlannedWork& work : plan_)
                if (work.kind == kind) ++count;
        }
        if (count < 1) count = 1;
        phasePending_ = false;
        LayOutPhase(kind, count);
        item_ = 0;
    } else if (item_ + 1 < count_) {
        ++item_;
    } else {
        // More items than announced: they stay within the phase's last slot.
        item_ = count_ - 1;
    }
    fileInPlace_ = false;
    failed_ = false;
    done_ = 0;
    total_ = 0;
    samples_.Clear();
}

void ProgressModel::TransferStarted(uint64_t total) {
    // A reconnection announces the transfer again and then the bytes held:
    // the bar keeps its place until they come.
    if (total) total_ = total;
    restarted_ = true;
    samples_.Clear();
}

void ProgressModel::AddBytes(uint64_t bytes, uint32_t nowMs) {
    if (restarted_) {
        done_ = bytes;
        restarted_ = false;
    } else {
        done_ += bytes;
    }
    if (samples_.IsEmpty() || nowMs - samples_[samples_.Size() - 1].ms >= kSampleStepMs) samples_.Add(Sample{nowMs, done_});
    while (samples_.Size() > 2 && nowMs - samples_[0].ms > kSampleSpanMs) samples_.RemoveAt(0);
}

void ProgressModel::TransferDone() {
    fileInPlace_ = true;
    if (total_) done_ = total_;
}

void ProgressModel::Waiting() { samples_.Clear(); }

void ProgressModel::ItemFailed() { failed_ = true; }

void ProgressModel::SequenceDone() { finished_ = true; }

int32_t ProgressModel::Position() const {
    if (finished_) return kRange;
    if (!inPhase_ || item_ < 0) return floor_;
    const int32_t low = Boundary(item_);
    if (failed_) return low;
    int32_t position = low;
    if (kind_ == WorkKind::Download) {
        const int32_t high = Boundary(item_ + 1);
        if (fileInPlace_) {
            position = high;
        } else if (total_) {
            const uint64_t done = done_ < total_ ? done_ : total_;
            // Bytes of up to 4 GiB times a share of at most kRange fit in 64 bits.
            position = low + static_cast<int32_t>(static_cast<uint64_t>(high - low) * done / total_);
            // Until the file is in place (checked and renamed) the item is not done.
            if (position == high && high > low) position = high - 1;
        }
    }
    return position > floor_ ? position : floor_;
}

bool ProgressModel::Marquee() const {
    return !finished_ && inPhase_ && item_ >= 0 && kind_ == WorkKind::Download && !failed_ && !fileInPlace_ &&
           total_ == 0;
}

uint64_t ProgressModel::BytesPerSecond() const {
    if (samples_.Size() < 2) return 0;
    const Sample& first = samples_[0];
    const Sample& last = samples_[samples_.Size() - 1];
    const uint32_t span = last.ms - first.ms;
    if (span < kMinimumSpanMs || last.bytes < first.bytes) return 0;
    return (last.bytes - first.bytes) * 1000 / span;
}

int64_t ProgressModel::SecondsLeft() const {
    const uint64_t rate = BytesPerSecond();
    if (!rate || !total_ || done_ >= total_) return -1;
    return static_cast<int64_t>((total_ - done_ + rate - 1) / rate);
}

RateAmount RateAmountOf(uint64_t bytesPerSecond) {
    RateAmount amount;
    if (bytesPerSecond < (1ull << 20)) {
        amount.unit = RateAmount::kKilobytes;
        amount.value.AppendUnsigned(bytesPerSecond / 1024);
        return amount;
    }
    amount.unit = RateAmount::kMegabytes;
    const uint64_t tenths = bytesPerSecond * 10 / (1ull << 20);
    amount.value.AppendUnsigned(tenths / 10);
    amount.value.Append(u'.');
    amount.value.Append(static_cast<char16_t>(u'0' + tenths % 10));
    return amount;
}

TimeLeft TimeLeftOf(int64_t seconds) {
    TimeLeft left = {0, 0, TimeLeft::kSeconds};
    if (seconds <= 0) return left;
    const uint64_t s = static_cast<uint64_t>(seconds);
    if (s < 10) {
        left.value = static_cast<uint32_t>(s);
    } else if (s < 90) {
        left.value = static_cast<uint32_t>((s + 4) / 5 * 5);  // in fives, rounded up
    } else if (s < 90 * 60) {
        left.unit = TimeLeft::kMinutes;
        left.value = static_cast<uint32_t>((s + 59) / 60);
    } else {
        left.unit = TimeLeft::kHours;
        const uint64_t minutes = (s + 59) / 60;
        const uint64_t hours = minutes / 60;
        left.value = hours > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(hours);
        left.minutes = static_cast<uint32_t>(minutes % 60);
    }
    return left;
}

bool ArgumentOfFormat(const WString& format, const WString& text, WString* argument) {
    const int at = format.Find(u"%s");
    if (at < 0 || format.Find(u"%s", at + 2) >= 0) return false;
    const WString before = format.Left(at);
    const WString after = format.Mid(at + 2);
    if (text.Length() < before.Length() + after.Length()) return false;
    if (!text.StartsWith(before) || !text.EndsWith(after.c_str())) return false;
    *argument = text.Substr(before.Length(), text.Length() - before.Length() - after.Length());
    return true;
}

WString FitLine(const WString& text, const WString& suffix, int width, MeasureText measure, void* context) {
    const WString whole = text + suffix;
    if (measure(whole, context) <= width) return whole;
    // The longest start of the text that fits with the ellipsis and the
    // suffix; a surrogate pair is never cut in two.
    const WString ellipsis(u"\u2026");
    int low = 0, high = text.Length();
    while (low < high) {
        const int middle = (low + high + 1) / 2;
        if (measure(text.Left(middle) + ellipsis + suffix, context) <= width)
            low = middle;
        else
            high = middle - 1;
    }
    if (low > 0 && text[low - 1] >= 0xD800 && text[low - 1] <= 0xDBFF) --low;
    return text.Left(low) + ellipsis + suffix;
}
