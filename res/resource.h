// Resource and control ids shared by the resource script and the code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_VANDREL_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_PORT 1000
#define IDC_SET_BRAND 1003
#define IDC_BRAND 1004
#define IDC_STATUS 1005
#define IDC_SET_CODE 1006
#define IDC_CODE 1007

// System-menu command of the About item; the low four bits stay clear for the system's use.
#define IDM_ABOUTBOX 0x0010
