// Resource ids of QuillGuardSetup, shared by the resource scripts and the code.
#pragma once

// Dialog, icon and header picture.
#define IDD_WIZARD 101
#define IDI_SETUP 102
#define IDB_HEADER 119

// Controls of the wizard dialog.
#define IDC_TITLE 1001
#define IDC_MESSAGE 1002
#define IDC_BACK 1003
#define IDC_NEXT 1004
#define IDC_LICENSE 1005
#define IDC_DISAGREE 1006
#define IDC_AGREE 1007
#define IDC_LICENSE_PROMPT 1008

// Strings.
#define IDS_PRODUCT_NAME 103
#define IDS_CANNOT_INSTALL 104
#define IDS_CLOSE 105
#define IDS_OTHER_VERSION 106
#define IDS_WELCOME_TITLE 107
#define IDS_WELCOME_TEXT 108
#define IDS_LICENSE_TITLE 109
#define IDS_LICENSE_PROMPT 110
#define IDS_CONFIRM_TITLE 111
#define IDS_CONFIRM_TEXT 112
#define IDS_INSTALLING_TITLE 113
#define IDS_INSTALLING_TEXT 114
#define IDS_COMPLETE_TITLE 115
#define IDS_COMPLETE_TEXT 116
#define IDS_FAILED_TITLE 117
#define IDS_FAILED_TEXT 118
#define IDS_RESTART_QUESTION 119

// The failed page's details: the step that failed and the Windows error.
#define IDS_FAILURE_DETAILS 120
#define IDS_STEP_FOLDER 121
#define IDS_STEP_COPY 122
#define IDS_STEP_DRIVER_FILE 123
#define IDS_STEP_SERVICE 124
#define IDS_STEP_TRIAL 125
#define IDS_STEP_BOOT_START 126
#define IDS_STEP_FILTER 127
#define IDS_RESTART_FIRST 128
// The box before the wizard on a PC that starts from a USB disk.
#define IDS_SYSTEM_ON_USB 129
#define IDS_STEP_ENTRY 130
// The box that lists setup's switches.
#define IDS_USAGE 131
