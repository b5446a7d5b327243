// Fuzzes the setup author's checker: any bytes as a configuration file, in
// any of the forms it recognises, and as UTF-8 text for the writer.
#include <stddef.h>
#include <stdint.h>

#include "check/config_checker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DiagnosticList list = CheckConfigurationFile(data, size, CheckOptions());
    // Every message names the rule that --ignore silences.
    for (const Diagnostic& d : list.Items())
        if (!IsRuleName(d.rule)) __builtin_trap();
    list.ToJson(WString(u"f.ini"));
    Array<uint8_t> written;
    ChainerFormBytes(TextFromUtf8File(data, size, nullptr), &written);
    CheckConfigurationFile(written.begin(), static_cast<size_t>(written.Size()), CheckOptions());
    return 0;
}
