// The windowed baseline: the least a Win32 program must do to show the Brand window with its
// lists filled, and to make a Set press that the user sees. It reads the registered ports the
// way the program does and fills the three lists and the status field, with a plain dialog
// procedure and no framework; choosing a port enables the Set buttons. The brand's Set button
// shows "端口%d打开" in the read-only field, makes the bare press of press_win32.h on the chosen
// port and shows "端口关闭": the two texts every press of the program must show, one
// SetDlgItemTextW each (the program hands its field wide text too). Close, Esc or the close box
// end it. Its title is "Brand baseline", so that a driver can tell it from the program when both
// run.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "press_win32.h"

namespace {

const int kDialog = 200;
const int kPortList = 1000;
const int kBrandList = 1004;
const int kStatus = 1005;
const int kSetBrand = 1003;
const int kSetCode = 1006;
const int kCodeList = 1007;

// The status texts, as the field shows them.
const wchar_t kStatusClosed[] = L"\x7AEF\x53E3\x5173\x95ED";    // 端口关闭
const wchar_t kStatusOpened[] = L"\x7AEF\x53E3%d\x6253\x5F00";  // 端口%d打开

void FillPorts(HWND list) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return;
    }
    for (DWORD index = 0;; ++index) {
        char name[100];
        BYTE data[30] = {};
        DWORD nameSize = sizeof name;
        DWORD dataSize = sizeof data;
        LONG result = RegEnumValueA(key, index, name, &nameSize, nullptr, nullptr, data, &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        char digits[3] = {static_cast<char>(data[3]), static_cast<char>(data[4]), 0};
        char item[16];
        std::snprintf(item, sizeof item, "COM%d", std::atoi(digits) & 0xFF);
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }
    RegCloseKey(key);
}

void EnableSetButtons(HWND dialog, BOOL enable) {
    EnableWindow(GetDlgItem(dialog, kSetBrand), enable);
    EnableWindow(GetDlgItem(dialog, kSetCode), enable);
}

void SendBrand(HWND dialog) {
    HWND list = GetDlgItem(dialog, kPortList);
    LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
    char item[16] = {};
    if (index == CB_ERR || SendMessageA(list, CB_GETLBTEXTLEN, index, 0) >= 12) {
        return;
    }
    SendMessageA(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(item));
    char device[32];
    std::snprintf(device, sizeof device, "\\\\.\\%s", item);
    wchar_t opened[32];
    wsprintfW(opened, kStatusOpened, std::atoi(item + 3));  // item is "COMn"
    SetDlgItemTextW(dialog, kStatus, opened);
    PressSetBrand(device);
    SetDlgItemTextW(dialog, kStatus, kStatusClosed);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            SetWindowTextA(dialog, "Brand baseline");
            FillPorts(GetDlgItem(dialog, kPortList));
            SetDlgItemTextW(dialog, kStatus, kStatusClosed);
            SendDlgItemMessageA(dialog, kBrandList, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>("VANDREL8"));
            SendDlgItemMessageA(dialog, kBrandList, CB_SETCURSEL, 0, 0);
            SendDlgItemMessageA(dialog, kCodeList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("V3"));
            SendDlgItemMessageA(dialog, kCodeList, CB_SETCURSEL, 0, 0);
            // No port is chosen at start-up, so there is nothing to send to yet.
            EnableSetButtons(dialog, FALSE);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                case IDCANCEL:
                    EndDialog(dialog, LOWORD(wParam));
                    return TRUE;
                case kPortList:
                    if (HIWORD(wParam) == CBN_SELCHANGE) {
                        EnableSetButtons(dialog, TRUE);
                    }
                    return TRUE;
                case kSetBrand:
                    SendBrand(dialog);
                    return TRUE;
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    DialogBoxParamW(instance, MAKEINTRESOURCEW(kDialog), nullptr, DialogProc, 0);
    return 0;
}
