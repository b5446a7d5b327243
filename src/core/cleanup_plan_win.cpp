#include "core/cleanup_plan.h"

void CleanupPlan::Prepare(const IniDocument&, const WString&, const WString&) {}
void CleanupPlan::DeleteAndPrune() {}
void CleanupPlan::RunScript() {}
void CleanupPlan::ReleaseLists() {
    fileList_.Clear();
    scriptPaths_.Clear();
}
