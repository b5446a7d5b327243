// Predict, then compare: what the run does with every prerequisite on a
// machine that lacks everything its searches look for and on one that has
// it all, computed by the chainer's own loader, selection and plan
// (engine/run_plan.h), and what of that cannot be what the author meant: an
// outcome that does not depend on the machine, a restart or a parent that
// the order of the list contradicts.
#include "check/check_context.h"
#include "check/check_tables.h"
#include "config/file_url.h"
#include "config/ini_schema.h"
#include "config/package_locator.h"
#include "config/prerequisite.h"
#include "engine/run_plan.h"
#include "evaluation/search_rules.h"
#include "install/return_codes.h"
#include "platform/references.h"

namespace {

// A machine of the model: folder properties resolve to folders of their
// own; environment variables and registry values stay as written.
class ModelMachine : public ReferenceResolver {
public:
    bool FolderProperty(const WString& name, bool, WString* value) override {
        if (!IsInList(kFolderPropertyNames, name)) return false;
        *value = u"C:\\" + name + u"\\";
        return true;
    }
    WString EnvironmentVariable(const WString& name) override { return u"%" + name + u"%"; }
    WString RegistryValue(const WString& path, bool) override { return u"!" + path + u"!"; }
};

enum class Outcome { kDepends, kAlwaysPresent, kAlwaysMissing, kExcluded };

// Why the outcome of one prerequisite does not depend on the machine.
struct Prediction {
    Outcome outcome = Outcome::kDepends;
    int deciding = -1;  // the search fact whose message carries the effect
    // Else a message of its own.
    int line = 0;
    Severity severity = Severity::kWarning;
    const char* rule = "fixed-outcome";
    WString why;
};

const SearchFact* FactOf(const SectionFacts& facts, int k) {
    for (const SearchFact& fact : facts.fixed)
        if (fact.k == k) return &fact;
    return nullptr;
}

int IndexOf(const SectionFacts& facts, const SearchFact* fact) {
    for (int i = 0; i < facts.fixed.Size(); ++i)
        if (&facts.fixed[i] == fact) return i;
    return -1;
}

Prediction Predict(const Prerequisite& p, const SectionFacts& facts, const IniSection* section) {
    Prediction prediction;
    if ((facts.osExcluded32 && facts.osExcluded64) || !facts.excludedWhy.IsEmpty()) {
        prediction.outcome = Outcome::kExcluded;
        prediction.line = facts.excludedLine;
        prediction.why = facts.excludedWhy.IsEmpty() ? WString(u"WinNTVersions and WinNT64Versions name every Windows")
                                                     : facts.excludedWhy;
        return prediction;
    }
    if (p.IgnoreOption) return prediction;  // "i": installed on every run, as meant
    const int count = facts.searchCount;
    const IniPair* op = CheckContext::Key(section, u"Operator");
    // The chainer's own combination, on a machine where every search that
    // depends on it finds (having) and on one where none does (lacking).
    struct Run {
        bool answer;
        int stoppedAt;  // the search after which no other runs, or 0
    };
    auto combine = [&](bool dependsFound) {
        SearchCombiner combiner(p.Operator);
        Run run = {false, 0};
        for (int k = 1; k <= count; ++k) {
            const SearchFact* fact = FactOf(facts, k);
            if (!combiner.Add(fact ? fact->answer == SearchAnswer::kAlwaysFound : dependsFound)) {
                run.stoppedAt = k;
                break;
            }
        }
        run.answer = combiner.Answer();
        return run;
    };
    const Run having = combine(true), lacking = combine(false);
    if (having.answer && !lacking.answer) return prediction;
    prediction.outcome = having.answer ? Outcome::kAlwaysPresent : Outcome::kAlwaysMissing;
    const Run& decided = having.answer ? lacking : having;
    if (p.Operator != 0 && p.Operator != 1) {
        prediction.line = CheckContext::LineOf(op, section);
        prediction.severity = Severity::kError;
        prediction.rule = "fixed-search-result";
        prediction.why = u"Operator " + Decimal(p.Operator) + u" is neither 0 (all) nor 1 (any), so the searches never find it";
    } else if (count > 0) {
        // The search at which the answer became fixed: where the run stops, else the last.
        prediction.deciding = IndexOf(facts, FactOf(facts, decided.stoppedAt ? decided.stoppedAt : count));
    } else if (facts.unreadSearchLine) {
        prediction.line = facts.unreadSearchLine;
        prediction.severity = Severity::kError;
        prediction.rule = "unknown-key";
        prediction.why = facts.unreadSearchKey + u", so [App" + Decimal(facts.n) + u"] has no searches";
    } else if (p.Operator == 0) {
        prediction.line = facts.line;
        prediction.severity = Severity::kNote;
        prediction.why = u"[App" + Decimal(facts.n) + u"] has no searches (SearchType1, SearchString1, ...)";
    } else {
        prediction.line = CheckContext::LineOf(op, section);
        prediction.why = u"Operator=1 with no searches (SearchType1, SearchString1, ...) finds nothing";
    }
    return prediction;
}

WString Named(const Prerequisite& p) { return Quoted(p.Name); }

// What the run does, from the plan of the machine that has everything.
WString AlwaysMissingEffect(const Prerequisite& p, const PlannedItem& item, RunMode mode) {
    WString effect = Named(p) + u" counts as missing on every machine, also where it is installed: ";
    if (mode == RunMode::kEvaluateOnly)
        effect += u"every run reports it missing";
    else if (item.opensSite)
        effect += u"its site is opened on every run";
    else if (item.downloads && !item.download.localFile)
        effect += u"it is downloaded and its setup runs on every run";
    else
        effect += u"its setup runs on every run";
    if (item.mandatory && !item.exempt && !item.opensSite && mode != RunMode::kEvaluateOnly)
        effect += u", and as it is still missing afterwards every run ends with 1 (a mandatory prerequisite is missing)";
    return effect;
}

// A mandatory prerequisite that is still missing after its setup: the run ends with 1.
bool FailsEveryRun(const RunPlan& plan, int i) {
    const PlannedItem& item = plan.items[i];
    return item.mandatory && !item.exempt && !item.opensSite && plan.mode != RunMode::kEvaluateOnly;
}

WString NeverInstalledEffect(const Prerequisite& p, Outcome outcome) {
    if (outcome == Outcome::kExcluded) return Named(p) + u" is excluded on every machine: it is never searched for nor installed";
    return Named(p) + u" counts as present on every machine and " +
           (p.LocationKind == kLocationOpenSite ? WString(u"its site is never opened") : WString(u"its setup never runs"));
}

// The plan of one model machine: every prerequisite present or missing as
// given, then selected as the chainer selects.
RunPlan PlanOf(PrerequisiteList& list, const Array<bool>& missing, const Array<bool>& excluded, ModelMachine& machine) {
    for (int i = 0; i < list.Count(); ++i) {
        Prerequisite& p = list[i];
        p.Selected = false;
        p.Action = excluded[i] ? kActionNotSupported
                   : !missing[i] ? kActionPresent
                   : p.LocationKind == kLocationUrl ? kActionDownload
                   : p.LocationKind == kLocationOpenSite ? kActionOpenSite : kActionInstall;
        p.FileAtTarget = IsLocalFileUrl(p.Location);
        p.AlreadyDownloaded = p.Action == kActionDownload && p.FileAtTarget;
    }
    for (int i = 0; i < list.Count(); ++i) {
        const int32_t a = list[i].Action;
        list.SetSelected(i, a == kActionInstall || a == kActionDownload || a == kActionOpenSite);
    }
    PackageLocator locator;
    locator.Configure(u"C:\\Package\\setup.exe", u"C:\\Package\\");
    PlanFacts facts;
    facts.systemFolder = u"C:\\Windows\\System32\\";
    facts.downloadFolder = u"C:\\Downloads\\";
    facts.extractionFolder = u"C:\\Package\\";
    return BuildRunPlan(list, locator, facts, machine);
}

WString NamesOf(const RunPlan& plan, const Array<int>& indexes) {
    Array<WString> names;
    for (int i : indexes) names.Add(Quoted(plan.items[i].name));
    return Joined(names, u", ");
}

// What a restart, a setup's own restart or a parent does to the prerequisites
// after it in the list, on a machine that lacks them all.
void CheckOrder(CheckContext* context, const RunPlan& plan) {
    DiagnosticList* out = context->out;
    for (int i = 0; i < plan.items.Size(); ++i) {
        const PlannedItem& item = plan.items[i];
        const IniSection* section = context->Section(NumberedKey(kAppKeyBase, i + 1));
        if (!item.launches) continue;
        Array<int> later;
        for (int j = i + 1; j < plan.items.Size(); ++j)
            if (plan.items[j].launches) later.Add(j);
        if (later.IsEmpty()) continue;
        if (item.launch.reboot != RebootMode::kNone) {
            const IniPair* options = CheckContext::Key(section, u"Options");
            out->Note(CheckContext::LineOf(options, section), "order",
                      Quoted(item.name) + u" restarts the machine as soon as its setup succeeds (" +
                          (plan.mode == RunMode::kSilent ? WString(u"a silent run asks no question")
                                                         : WString(u"the user is asked; a no stops the chain too")) +
                          u"), before " + NamesOf(plan, later) + (later.Size() == 1 ? u" is" : u" are") +
                          u" installed: " + (later.Size() == 1 ? u"it follows" : u"they follow") +
                          u" only when the package is run again after the restart (list " + Quoted(item.name) +
                          u" last to install everything first)");
        }
        for (const ReturnCodeRule& rule : item.launch.codes.Rules()) {
            if (rule.meaning != CodeMeaning::kRebooting) continue;
            const IniPair* codes = CheckContext::Key(section, u"ReturnCodes");
            out->Note(CheckContext::LineOf(codes, section), "order",
                      u"when " + Quoted(item.name) + u" returns " +
                          (static_cast<int32_t>(rule.code) < 0 ? Decimal(static_cast<int32_t>(rule.code)) : Decimal(rule.code)) +
                          u" (rebooting) nothing more is launched: " + NamesOf(plan, later) +
                          u" wait for the package's next run after the restart");
            break;
        }
    }
    // A parent installs before the prerequisites that name it.
    for (int i = 0; i < plan.items.Size(); ++i) {
        const PlannedItem& child = plan.items[i];
        if (child.parent.IsEmpty() || !child.selected) continue;
        for (int j = 0; j < plan.items.Size(); ++j) {
            if (plan.items[j].name != child.parent) continue;
            if (j > i && plan.items[j].selected) {
                const IniSection* section = context->Section(NumberedKey(kAppKeyBase, i + 1));
                out->Warning(CheckContext::LineOf(CheckContext::Key(section, u"ParentPrereq"), section), "order",
                             u"ParentPrereq names " + Quoted(child.parent) + u" (App" + Decimal(j + 1) +
                                 u"), which comes later in the list: the run " +
                                 (child.launches ? WString(u"installs ") : WString(u"takes ")) + Quoted(child.name) +
                                 u" before its parent (the list's order is the order of the work); list App" +
                                 Decimal(j + 1) + u" before App" + Decimal(i + 1));
            }
            break;
        }
    }
}

}  // namespace

void PredictRun(CheckContext* context) {
    DiagnosticList* out = context->out;
    ModelMachine machine;
    PrerequisiteList list;
    list.Load(context->doc, machine);
    list.ComputeTargets(WString(u"C:\\Downloads\\"));
    const int count = list.Count();
    Array<Prediction> predictions;
    Array<bool> lacking, having, excluded;
    for (int i = 0; i < count; ++i) {
        const SectionFacts* facts = context->FactsOf(i + 1);
        const Prediction prediction =
            facts ? Predict(list[i], *facts, context->Section(NumberedKey(kAppKeyBase, i + 1))) : Prediction();
        predictions.Add(prediction);
        excluded.Add(prediction.outcome == Outcome::kExcluded);
        lacking.Add(prediction.outcome != Outcome::kAlwaysPresent);
        having.Add(prediction.outcome == Outcome::kAlwaysMissing || list[i].IgnoreOption);
    }
    const RunPlan lackingPlan = PlanOf(list, lacking, excluded, machine);
    const RunPlan havingPlan = PlanOf(list, having, excluded, machine);

    // The searches' own messages, the effect added where it decides the outcome.
    for (const SectionFacts& facts : context->sections) {
        const int i = facts.n - 1;
        const bool loaded = i >= 0 && i < count;
        const Prediction* prediction = loaded ? &predictions[i] : nullptr;
        for (int f = 0; f < facts.fixed.Size(); ++f) {
            const SearchFact& fact = facts.fixed[f];
            WString message = fact.message;
            Severity severity = fact.severity;
            if (prediction && prediction->deciding == f) {
                if (prediction->outcome == Outcome::kAlwaysPresent) {
                    message += u"; so " + NeverInstalledEffect(list[i], prediction->outcome);
                } else {
                    message += u"; so " + AlwaysMissingEffect(list[i], havingPlan.items[i], havingPlan.mode);
                    if (FailsEveryRun(havingPlan, i)) severity = Severity::kError;
                }
            } else if (prediction && prediction->outcome == Outcome::kDepends) {
                message += fact.answer == SearchAnswer::kAlwaysFound && list[i].Operator == 0
                               ? WString(u"; under Operator 0 it never makes the prerequisite missing")
                               : fact.answer == SearchAnswer::kNeverFound && list[i].Operator == 1
                                     ? WString(u"; under Operator 1 it never makes the prerequisite present")
                                     : WString();
            }
            if (!fact.advice.IsEmpty()) message += u"; " + fact.advice;
            out->Add(fact.line, severity, fact.rule, message);
        }
        // An unread SearchType key: the prediction tells it where it leaves no search.
        const bool told = prediction && !prediction->why.IsEmpty() && prediction->line == facts.unreadSearchLine;
        if (facts.unreadSearchLine && !told) out->Warning(facts.unreadSearchLine, "unknown-key", facts.unreadSearchKey);
    }

    // Outcomes that no single search decides.
    for (int i = 0; i < count; ++i) {
        const Prediction& prediction = predictions[i];
        if (prediction.why.IsEmpty()) continue;
        const bool never = prediction.outcome == Outcome::kAlwaysPresent || prediction.outcome == Outcome::kExcluded;
        Severity severity = prediction.severity;
        WString effect;
        if (never) {
            effect = NeverInstalledEffect(list[i], prediction.outcome);
            if (lackingPlan.items[i].selected) continue;  // taken anyway (as the parent of a missing one)
        } else {
            effect = AlwaysMissingEffect(list[i], havingPlan.items[i], havingPlan.mode);
            if (FailsEveryRun(havingPlan, i)) severity = Severity::kError;
        }
        WString advice;
        if (prediction.outcome == Outcome::kAlwaysPresent && !CheckContext::Key(context->Section(NumberedKey(kAppKeyBase, i + 1)), u"Operator"))
            advice = u" (add a search that finds it where it is installed, or Options=i to run it on every run)";
        out->Add(prediction.line, severity, prediction.rule, prediction.why + u": " + effect + advice);
    }
    CheckOrder(context, lackingPlan);
}
