// Control IDs of the main window, its timer and the forwarded-path tag.
#pragma once

constexpr int IDC_DROPZONE = 101;
constexpr int IDC_SELECTION = 102;
constexpr int IDC_MODE_INTERNET = 103;
constexpr int IDC_MODE_LAN = 104;
constexpr int IDC_START = 105;
constexpr int IDC_LINK = 106;
constexpr int IDC_COPY = 107;
constexpr int IDC_QR = 108;
constexpr int IDC_HOSTED_TITLE = 109;
constexpr int IDC_LIST = 110;
constexpr int IDC_STOP_SELECTED = 111;
constexpr int IDC_COPY_LINK = 112;
constexpr int IDC_STOP_ALL = 113;
constexpr int IDC_STATUS = 114;
constexpr int IDC_CUSTOM_LABEL = 116;
constexpr int IDC_CUSTOM_LINK = 117;
constexpr int IDC_PREMIUM_TITLE = 118;
constexpr int IDC_PASSWORD_LABEL = 119;
constexpr int IDC_PASSWORD = 120;
constexpr int IDC_AUTOZIP = 121;
constexpr int IDC_EXPIRE_LABEL = 122;
constexpr int IDC_EXPIRE = 123;
constexpr int IDC_BRANDING = 124;
constexpr int IDC_OFFLINE = 125;
constexpr int IDC_PAUSE = 126;

// Timer on the main window that hands shell-forwarded paths over.
constexpr unsigned IDT_SHELL_BATCH = 1001;
constexpr unsigned kShellBatchDelayMs = 300;

// dwData of the WM_COPYDATA record a second instance sends ("VORN").
constexpr unsigned long long kForwardTag = 0x564F524EULL;

// Resource IDs (also used by the .rc file, so plain macros).
#define IDI_APP_ICON 1
