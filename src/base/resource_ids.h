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
