// The run's options and prerequisites as loaded from the configuration.
#pragma once

#include <stdint.h>

#include "base/array.h"
#include "base/wstr.h"
#include "config/ini_document.h"

class ReferenceResolver;

struct GeneralOptions {
    WString MainAppCmdLine;
    WString Options;
    WString UpdatesUrl;
    WString ProductVersion;
    WString MinWIVer;
    WString DownloadFolder;
    WString MainAppURL;
    WString UwpAppxURL;
    WString LanguageList;
    WString ExtractionFolder;
    int32_t KeepFiles = 0;  // KeepFilesCode
    bool PackJars = false;
    bool AllPlatforms = false;
    bool Is64PlatformTransf = false;
    WString Langs;
    WString PackageCode;
    WString DefaultProdCode;
    WString ProductCode;
    WString UpgradeCode;
    bool ExtUIStub = false;
    WString SaveExtUIStub;
    WString FileExtractFirst;
    WString MsiCertData;
    WString AppxVersion;
    WString AppxPkId;
    // The package's name for the title of the dialogs and the restart
    // question; empty: "<product> Setup".
    WString Title;
};

// What KeepFiles reads as: "complete" and "prereqs" keep the downloaded
// setups, "minimum" and anything else delete them after the run.
enum KeepFilesCode : int32_t {
    kKeepFilesOther = 0,
    kKeepFilesMinimum = 1,
    kKeepFilesComplete = 2,
    kKeepFilesPrereqs = 5,
};

// Fills the record from the section GeneralOptions; always answers true.
bool LoadGeneralOptions(const IniDocument& document, GeneralOptions* options);

struct SearchEntry {
    int32_t SearchType = 0;
    WString SearchString;
    WString VerMin;
    WString VerMax;
    WString RefContent;
    WString SearchCmdLine;
};

struct SearchOutcome {
    Array<WString> FoundValues;
    WString Content;
    bool Found = false;
};

// The status texts of the phases (GetPhaseText).
enum PhaseText { kPhaseSearching = 0, kPhaseDownloading = 1, kPhaseInstalling = 2, kPhaseOpeningSite = 3 };

enum LocationKindCode { kLocationSetupFile = 0, kLocationUrl = 1, kLocationOpenSite = 2 };

enum ActionCode {
    kActionPresent = 0,
    kActionInstall = 1,
    kActionDownload = 2,
    kActionOpenSite = 3,
    kActionNotSupported = 4,
    kActionDownloaded = 5,
    kActionNotFound = 6,
    kActionNotSelected = 7,
    kActionNotEvaluated = 8,
};

struct Prerequisite {
    WString Name;
    WString VerMin;
    WString VerMax;
    WString Location;
    int32_t LocationKind = 0;
    // Url2, Url3, ...: further places of the same file, tried in this order
    // when a download from the one before fails or its bytes are rejected.
    Array<WString> MirrorUrls;
    WString CommandLine;
    WString BasicUiCommandLine;
    WString NoUiCommandLine;
    WString Options;
    WString MD5;
    WString SHA256;
    WString SignerThumbprint;  // pinned certificates of the setup's signature, comma-separated
    WString SignerName;        // the signing certificate's simple display name
    uint64_t ExactSize = 0;  // 0: none given
    WString Folder;
    WString RetValPropName;
    // "code:meaning" items: what the setup's return codes mean.
    WString ReturnCodes;
    WString ParentPrereq;
    int32_t Operator = 0;
    Array<SearchEntry> Searches;
    WString WinNTVersions;
    WString WinNT64Versions;
    WString LanguageList;
    Array<SearchOutcome> SearchResults;
    int32_t Action = kActionNotEvaluated;
    int32_t FoundAction = kActionNotEvaluated;
    bool AlreadyDownloaded = false;
    // The setup file lies at its download target with the right size (or is
    // a local file URL), as the last evaluation found it.
    bool FileAtTarget = false;
    bool Selected = false;
    bool IgnoreOption = false;

    bool HasOption(char16_t letter) const { return Options.Contains(letter); }
};

// Loads definition N (App<N>) into the record; false when it is not completely defined.
bool LoadPrerequisiteDefinition(const IniDocument& document, int n, Prerequisite* record);

class PrerequisiteList {
public:
    GeneralOptions options;
    Array<Prerequisite> items;

    // Reads the GeneralOptions, then every prerequisite in file order, with
    // the post-processing of each record. Locations of kind Url and OpenSite
    // are expanded through the resolver.
    void Load(const IniDocument& document, ReferenceResolver& resolver);

    int Count() const { return items.Size(); }
    Prerequisite& operator[](int index) { return items[index]; }
    const Prerequisite& operator[](int index) const { return items[index]; }

    bool IsSilentMode() const { return options.Options.Contains(u'q'); }
    bool IsBasicUiMode() const { return options.Options.Contains(u'b'); }

    // Resolved folders (each computed once, ending with a backslash).
    const WString& ResolvedDownloadFolder();
    const WString& ResolvedExtractionFolder();

    // Evaluation and selection.
    void EvaluatePrerequisite(int index, bool keepIgnored);
    void EvaluateAll();
    void ReevaluateAll();
    void SetSelected(int index, bool selected);
    // The action as the engine sees it, from the last evaluation (no disk
    // access).
    int32_t GetAction(int index) const;
    // Looks at the prerequisite's download target again (FileAtTarget, and
    // AlreadyDownloaded for one to download).
    void RefreshFileAtTarget(int index);

    // Every prerequisite's download target, in list order (long-path
    // prefixed where long): empty for one that downloads nothing (a
    // SetupFile, an OpenSite, a local file URL). Computed once, from the
    // resolved download folder, by the first evaluation; TargetMoved marks
    // those given a subfolder of their own because an earlier prerequisite
    // downloads to the same file.
    void ComputeTargets(const WString& downloadFolder);
    bool TargetsComputed() const { return targetsComputed_; }
    const WString& Target(int index) const { return targets_[index]; }
    bool TargetMoved(int index) const { return targetMoved_[index]; }
    // The status text of a phase (PhaseText); others empty.
    WString GetPhaseText(int phase);

private:
    bool targetsComputed_ = false;
    Array<WString> targets_;
    Array<bool> targetMoved_;
    bool downloadFolderResolved_ = false;
    bool extractionFolderResolved_ = false;
    WString downloadFolder_;
    WString extractionFolder_;
    WString phaseTexts_[4];
    bool phaseTextLoaded_[4] = {false, false, false, false};
};
