// Identifiers of the executable's resources, shared by the resource script
// and the code.
#pragma once

#define IDI_MAIN 128

#define IDD_STATUS 201
#define IDD_PROGRESS 216

#define IDC_STATUS_TEXT 1001
#define IDC_PROGRESS_TEXT 1034
#define IDC_PROGRESS_BAR 1035
#define IDC_PROGRESS_DETAIL 1036
#define IDC_SUMMARY 1037

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
#define IDS_WAITING_INSTALLER 234
#define IDS_WAITING_SERVER 235
#define IDS_CANCEL_QUESTION 236
#define IDS_CANCELLING_AFTER 237
#define IDS_CANCELLING 238
#define IDS_ITEM_OF 239
#define IDS_JOIN 240
// Kilobytes and megabytes per second: in the order of RateAmount::Unit.
#define IDS_RATE_KB 241
#define IDS_RATE_MB 242
// Seconds, minutes, hours left: in the order of TimeLeft::Unit.
#define IDS_LEFT_SECONDS 243
#define IDS_LEFT_MINUTES 244
#define IDS_LEFT_HOURS 245
// Bytes so far of a download of unknown size, in the order of ByteAmounts::Unit.
#define IDS_SO_FAR_KB 246
#define IDS_SO_FAR_MB 247
#define IDS_SO_FAR_GB 248
#define IDS_SUMMARY_INCOMPLETE 250
#define IDS_SUMMARY_PARTIAL 251
#define IDS_SUMMARY_DOWNLOAD_FAILED 252
#define IDS_SUMMARY_SETUP_FAILED 253
#define IDS_SUMMARY_SETUP_FAILED_CODE 254
#define IDS_SUMMARY_NOT_STARTED 255
#define IDS_SUMMARY_SITE_FAILED 256
#define IDS_SUMMARY_SKIPPED 257
#define IDS_SUMMARY_STILL_MISSING 258
#define IDS_ADVICE_CONNECTION 259
#define IDS_ADVICE_RETRY 260
#define IDS_ADVICE_RESTART 261
#define IDS_SUMMARY_LOG 262
#define IDS_FROM_PLACE 263
// The texts of result codes: 300 and up (ui/result_texts.inc).
