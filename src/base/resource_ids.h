// Identifiers of the executable's resources, shared by the resource script
// and the code.
#pragma once

#define IDI_MAIN 128

#define IDD_STATUS 201
#define IDD_PROGRESS 216

#define IDC_STATUS_TEXT 1001
#define IDC_PROGRESS_TEXT 1034
#define IDC_PROGRESS_BAR 1035

#define IDS_INSTALLING 153
#define IDS_SETUP_TITLE 161
#define IDS_OPENING_SITE 198
#define IDS_DOWNLOADING 199
#define IDS_REBOOT_QUESTION 216
#define IDS_CONFIRMATION 217
#define IDS_PREPARING 220
#define IDS_SEARCHING 223
#define IDS_CLOSE 224
#define IDS_DOWNLOAD_FAILED 225
#define IDS_SETUP_FAILED 226
#define IDS_SETUP_FAILED_CODE 227
#define IDS_RESTART_ASKED 228
#define IDS_ERROR_CODE 229
#define IDS_ITEM_BYTES 230
// Kilobytes, megabytes, gigabytes: in the order of ByteAmounts::Unit.
#define IDS_BYTES_KB 231
#define IDS_BYTES_MB 232
#define IDS_BYTES_GB 233
// The texts of result codes: 300 and up (ui/result_texts.inc).
