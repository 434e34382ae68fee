// Works a Brand window from another process in the same Wine prefix and display, and reports
// when things happened on the clock of clock_win32.h, for bench/bench.py. One command a line on
// standard input; every answer is key=value lines closed by "end":
//
//   clock                  now=NS
//   watch:TITLE:ID:MS      prints "armed" at once, then waits (up to MS) for a visible dialog
//                          titled TITLE whose combo box ID has items: seen=NS count=N
//   select:TITLE           makes the visible dialog titled TITLE the one the commands below
//                          work (watch does this too)
//   choose:TEXT            selects the port item TEXT (e.g. COM5) and notifies the dialog, as a
//                          user's choice does: index=K
//   press:ID               BM_CLICK on button ID, sent (so it returns when the handler is done):
//                          t0=NS before the send, t1=NS after it
//   ping:ID                WM_NULL sent to control ID: t0=NS, t1=NS around the send
//   status                 status=TEXT of the status field (UTF-8)
//   close                  WM_CLOSE to the dialog, then waits until the window has gone: closed=1
//   quit                   ends the driver
//
// Failures print error=... (and still "end").
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "clock_win32.h"

namespace {

const wchar_t kDialogClass[] = L"#32770";
const int kPortList = 1000;
const int kStatus = 1005;
const UINT kSendTimeoutMs = 10000;

HWND g_dialog = nullptr;

void Put(const char* key, long long value) {
    std::printf("%s=%lld\n", key, value);
}

bool Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
    return SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs,
                               result) != 0;
}

std::wstring Wide(const std::string& bytes) {
    std::wstring text(bytes.size() + 1, L'\0');
    int length =
        MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, &text[0], static_cast<int>(text.size()));
    text.resize(length > 0 ? static_cast<size_t>(length - 1) : 0);
    return text;
}

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t colon = line.find(':', start);
        parts.push_back(line.substr(start, colon - start));
        if (colon == std::string::npos) {
            return parts;
        }
        start = colon + 1;
    }
}

// Polls rather than hooks: FindWindow and IsWindowVisible are cheap server calls, and a 1 ms
// poll is fine-grained enough against start-up times of tens of milliseconds. The items are
// asked of the window's own thread, so "seen" also means the dialog answers messages.
void Watch(const std::vector<std::string>& args) {
    if (args.size() < 4) {
        std::printf("error=usage\n");
        return;
    }
    std::wstring title = Wide(args[1]);
    int listId = std::atoi(args[2].c_str());
    long long deadline = NowNs() + std::atoll(args[3].c_str()) * 1000000LL;
    std::printf("armed\n");
    std::fflush(stdout);
    for (;;) {
        HWND hwnd = FindWindowW(kDialogClass, title.c_str());
        if (hwnd && IsWindowVisible(hwnd)) {
            DWORD_PTR count = 0;
            HWND list = GetDlgItem(hwnd, listId);
            if (list && Send(list, CB_GETCOUNT, 0, 0, &count) && static_cast<LRESULT>(count) > 0) {
                long long seen = NowNs();
                g_dialog = hwnd;
                Put("seen", seen);
                Put("count", static_cast<long long>(count));
                return;
            }
        }
        if (NowNs() > deadline) {
            std::printf("error=timeout\n");
            return;
        }
        Sleep(1);
    }
}

void Select(const std::vector<std::string>& args) {
    if (args.size() < 2) {
        std::printf("error=usage\n");
        return;
    }
    HWND hwnd = FindWindowW(kDialogClass, Wide(args[1]).c_str());
    if (!hwnd || !IsWindowVisible(hwnd)) {
        std::printf("error=no window\n");
        return;
    }
    g_dialog = hwnd;
}

bool HaveDialog() {
    if (g_dialog && IsWindow(g_dialog)) {
        return true;
    }
    std::printf("error=no window\n");
    return false;
}

void Choose(const std::vector<std::string>& args) {
    if (!HaveDialog() || args.size() < 2) {
        return;
    }
    HWND list = GetDlgItem(g_dialog, kPortList);
    std::wstring text = Wide(args[1]);
    DWORD_PTR index = 0;
    if (!Send(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
              reinterpret_cast<LPARAM>(text.c_str()), &index) ||
        static_cast<LRESULT>(index) == CB_ERR) {
        std::printf("error=no item %s\n", args[1].c_str());
        return;
    }
    Put("index", static_cast<long long>(index));
    DWORD_PTR result = 0;
    Send(list, CB_SETCURSEL, index, 0, &result);
    // CB_SETCURSEL notifies nobody; a user's choice sends this to the dialog.
    if (!Send(g_dialog, WM_COMMAND, MAKEWPARAM(kPortList, CBN_SELCHANGE),
              reinterpret_cast<LPARAM>(list), &result)) {
        std::printf("error=timeout\n");
    }
}

// Sends `message` to the dialog's control named by args[1] and prints when the send began and
// when it returned.
void TimedSend(const std::vector<std::string>& args, UINT message) {
    HWND control = GetDlgItem(g_dialog, std::atoi(args[1].c_str()));
    if (!control) {
        std::printf("error=no control\n");
        return;
    }
    DWORD_PTR result = 0;
    long long t0 = NowNs();
    bool sent = Send(control, message, 0, 0, &result);
    long long t1 = NowNs();
    Put("t0", t0);
    Put("t1", t1);
    if (!sent) {
        std::printf("error=timeout\n");
    }
}

void Press(const std::vector<std::string>& args) {
    if (!HaveDialog() || args.size() < 2) {
        return;
    }
    TimedSend(args, BM_CLICK);
}

// The cost of the cross-process message itself, with nothing behind it: part of every press
// the driver makes, and none of the program's own doing.
void Ping(const std::vector<std::string>& args) {
    if (!HaveDialog() || args.size() < 2) {
        return;
    }
    TimedSend(args, WM_NULL);
}

void Status() {
    if (!HaveDialog()) {
        return;
    }
    wchar_t text[128] = {};
    DWORD_PTR copied = 0;
    Send(GetDlgItem(g_dialog, kStatus), WM_GETTEXT, 128, reinterpret_cast<LPARAM>(text), &copied);
    char bytes[512] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    std::printf("status=%s\n", bytes);
}

void Close() {
    if (!HaveDialog()) {
        return;
    }
    PostMessageW(g_dialog, WM_CLOSE, 0, 0);
    long long deadline = NowNs() + 10000000000LL;
    while (IsWindow(g_dialog) && NowNs() < deadline) {
        Sleep(2);
    }
    Put("closed", IsWindow(g_dialog) ? 0 : 1);
    g_dialog = nullptr;
}

}  // namespace

int wmain() {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, stdin)) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        std::vector<std::string> args = Split(line);
        const std::string& name = args[0];
        if (name == "quit") {
            break;
        } else if (name == "clock") {
            Put("now", NowNs());
        } else if (name == "watch") {
            Watch(args);
        } else if (name == "select") {
            Select(args);
        } else if (name == "choose") {
            Choose(args);
        } else if (name == "press") {
            Press(args);
        } else if (name == "ping") {
            Ping(args);
        } else if (name == "status") {
            Status();
        } else if (name == "close") {
            Close();
        } else if (!name.empty()) {
            std::printf("error=unknown command %s\n", name.c_str());
        }
        std::printf("end\n");
        std::fflush(stdout);
    }
    return 0;
}
