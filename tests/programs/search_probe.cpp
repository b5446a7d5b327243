// Test program: runs one search of the product's search engine and prints
// its outcome, one item a line (UTF-8):
//   search_probe <type> <search string> [verMin] [verMax] [refContent] [cmdLine] [x]
// An argument "-" stands for the empty text; "x" as the seventh argument asks
// for the 64-bit view. Output: "found=0|1", then "value=<text>" per collected
// value, then "content=<text>".
#include <windows.h>

#include <stdio.h>

#include "evaluation/search_engine_win.h"
#include "platform/win_util.h"

static WString Arg(int argc, wchar_t** argv, int index) {
    if (index >= argc || lstrcmpW(argv[index], L"-") == 0) return WString();
    return WString(argv[index]);
}

static void Print(const char* prefix, const WString& text) {
    NarrowText narrow;
    Narrow(text, &narrow, CP_UTF8);
    printf("%s%s\n", prefix, narrow.c_str());
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: search_probe <type> <search string> [verMin] [verMax] [ref] [cmdLine] [x]\n");
        return 2;
    }
    SearchEntry entry;
    entry.SearchType = ParseLenientInt(WString(argv[1]));
    entry.SearchString = Arg(argc, argv, 2);
    entry.VerMin = Arg(argc, argv, 3);
    entry.VerMax = Arg(argc, argv, 4);
    entry.RefContent = Arg(argc, argv, 5);
    entry.SearchCmdLine = Arg(argc, argv, 6);
    bool use64 = Arg(argc, argv, 7) == u"x";
    SearchOutcome outcome = RunSearch(entry, use64);
    printf("found=%d\n", outcome.Found ? 1 : 0);
    for (const WString& value : outcome.FoundValues) Print("value=", value);
    Print("content=", outcome.Content);
    fflush(stdout);
    return 0;
}
