// Drives the running Brand dialog from another process in the same Wine prefix and display, the
// way a user would, and prints what it sees as key=value lines (UTF-8) for its caller to read.
//
// Commands come from the command line (one word each, arguments after a colon, e.g.
// "choose:1"), or, with the single argument "serve", one per line on standard input. Every
// command's output ends with the line "end", so a caller can keep one driver running and talk to
// it line by line:
//
//   wait[:ms]             hwnd, pid, tid of the visible window titled "Brand"
//   state                 title, the three lists, status, Set buttons, focus, pid, and whether
//                         the program is a 32-bit one on 64-bit Windows (wow64)
//   choose:K              select port item K and notify the dialog, as a user's choice does
//   click:ID              BM_CLICK on a button; ms = how long the handler ran
//   focus:ID              move the dialog's focus to control ID, as the Tab key does
//   key:VK                press and release virtual key VK at the focused control
//   type:ID:TEXT          WM_SETTEXT on a combo box (its edit field shows TEXT)
//   typeedit:ID:TEXT      WM_SETTEXT on the combo box's edit child (notifies the combo box)
//   about                 open the About box by the system command, read it, leave it open
//   aboutok               press the About box's OK and wait until it has gone
//   close:ok|esc|box      end the dialog one way; closed=1 when the window went
//   gui                   the program's kernel handles and its windows
//   rect                  the window's screen rectangle (left, top, right, bottom)
//   activate              make the window active, caption and all; active=1 when it is
//
// Failures print error=... (and still "end"); the process exit code is 0 unless a command line
// command failed.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "res/resource.h"

namespace {

const wchar_t kDialogClass[] = L"#32770";
const wchar_t kMainTitle[] = L"Brand";
const wchar_t kAboutTitle[] = L"\x5173\x4E8E Vandrel";  // 关于 Vandrel

// Cross-process messages must never hang the driver: a wedged dialog shows as a timeout.
const UINT kSendTimeoutMs = 10000;

HWND g_main = nullptr;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], length,
                        nullptr, nullptr);
    return bytes;
}

std::wstring Wide(const std::string& bytes) {
    if (bytes.empty()) {
        return std::wstring();
    }
    int length =
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], length);
    return text;
}

// Values never hold a line break, so one line stays one key.
void Put(const std::string& key, const std::string& value) {
    std::string line = key + "=";
    for (char c : value) {
        line += (c == '\n' || c == '\r') ? ' ' : c;
    }
    line += "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
}

void Put(const std::string& key, long long value) {
    Put(key, std::to_string(value));
}

double NowMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void PutMs(const std::string& key, double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", ms);
    Put(key, text);
}

bool Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
    return SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs,
                               result) != 0;
}

std::wstring WindowText(HWND hwnd) {
    // WM_GETTEXT rather than GetWindowText: the latter does not ask another process's window.
    DWORD_PTR length = 0;
    if (!Send(hwnd, WM_GETTEXTLENGTH, 0, 0, &length)) {
        return std::wstring();
    }
    std::vector<wchar_t> buffer(length + 1, L'\0');
    DWORD_PTR copied = 0;
    Send(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), &copied);
    return std::wstring(buffer.data(), copied);
}

HWND FindVisible(const wchar_t* title, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND hwnd = FindWindowW(kDialogClass, title);
        // The window exists before its controls do; it is shown once the dialog is built.
        if (hwnd && IsWindowVisible(hwnd)) {
            return hwnd;
        }
        if (GetTickCount() - start >= timeoutMs) {
            return nullptr;
        }
        Sleep(20);
    }
}

bool WaitGone(HWND hwnd, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (IsWindow(hwnd)) {
        if (GetTickCount() - start >= timeoutMs) {
            return false;
        }
        Sleep(10);
    }
    return true;
}

bool NeedMain() {
    if (!g_main || !IsWindow(g_main)) {
        g_main = FindVisible(kMainTitle, 0);
    }
    if (!g_main) {
        Put("error", "no window");
        return false;
    }
    return true;
}

HWND Control(int id) {
    return GetDlgItem(g_main, id);
}

void PutList(const std::string& name, int id) {
    HWND combo = Control(id);
    DWORD_PTR count = 0;
    if (!combo || !Send(combo, CB_GETCOUNT, 0, 0, &count)) {
        Put(name + ".count", -1);
        return;
    }
    Put(name + ".count", static_cast<int>(count));
    for (int i = 0; i < static_cast<int>(count); ++i) {
        DWORD_PTR length = 0;
        Send(combo, CB_GETLBTEXTLEN, i, 0, &length);
        std::vector<wchar_t> buffer(length + 1, L'\0');
        DWORD_PTR copied = 0;
        Send(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buffer.data()), &copied);
        Put(name + ".item" + std::to_string(i), Utf8(std::wstring(buffer.data(), length)));
    }
    DWORD_PTR selection = 0;
    Send(combo, CB_GETCURSEL, 0, 0, &selection);
    Put(name + ".sel", static_cast<int>(static_cast<LRESULT>(selection)));
    Put(name + ".text", Utf8(WindowText(combo)));
}

// The control that has the keyboard focus in the dialog's thread, as a dialog control id. A
// combo box's edit child reports the combo box.
void PutFocus(DWORD thread) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(thread, &info) || !info.hwndFocus) {
        Put("focus", "none");
        return;
    }
    HWND focus = info.hwndFocus;
    if (GetParent(focus) && GetParent(focus) != g_main) {
        focus = GetParent(focus);
    }
    Put("focus", focus == g_main ? -2 : GetDlgCtrlID(focus));
}

void CmdState() {
    if (!NeedMain()) {
        return;
    }
    DWORD pid = 0;
    DWORD thread = GetWindowThreadProcessId(g_main, &pid);
    Put("pid", pid);
    Put("title", Utf8(WindowText(g_main)));
    Put("visible", IsWindowVisible(g_main) ? 1 : 0);
    Put("enabled", IsWindowEnabled(g_main) ? 1 : 0);
    PutList("port", IDC_PORT);
    PutList("brand", IDC_BRAND);
    PutList("code", IDC_CODE);
    Put("status", Utf8(WindowText(Control(IDC_STATUS))));
    Put("setbrand.enabled", IsWindowEnabled(Control(IDC_SET_BRAND)) ? 1 : 0);
    Put("setcode.enabled", IsWindowEnabled(Control(IDC_SET_CODE)) ? 1 : 0);
    Put("setbrand.text", Utf8(WindowText(Control(IDC_SET_BRAND))));
    Put("setcode.text", Utf8(WindowText(Control(IDC_SET_CODE))));
    Put("close.text", Utf8(WindowText(Control(IDOK))));
    PutFocus(thread);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    BOOL wow64 = FALSE;
    Put("wow64", process && IsWow64Process(process, &wow64) ? (wow64 ? 1 : 0) : -1);
    if (process) {
        CloseHandle(process);
    }
}

void CmdWait(const std::string& arg) {
    DWORD timeout = arg.empty() ? 10000 : static_cast<DWORD>(std::atoi(arg.c_str()));
    double start = NowMs();
    g_main = FindVisible(kMainTitle, timeout);
    if (!g_main) {
        Put("error", "timeout");
        return;
    }
    DWORD pid = 0;
    DWORD thread = GetWindowThreadProcessId(g_main, &pid);
    Put("hwnd", static_cast<long long>(reinterpret_cast<ULONG_PTR>(g_main)));
    Put("pid", pid);
    Put("tid", thread);
    PutMs("ms", NowMs() - start);
}

void CmdChoose(const std::string& arg) {
    if (!NeedMain()) {
        return;
    }
    HWND combo = Control(IDC_PORT);
    DWORD_PTR result = 0;
    double start = NowMs();
    Send(combo, CB_SETCURSEL, std::atoi(arg.c_str()), 0, &result);
    Put("setcursel", static_cast<int>(static_cast<LRESULT>(result)));
    // CB_SETCURSEL notifies nobody; a user's choice sends this to the dialog.
    bool sent = Send(g_main, WM_COMMAND, MAKEWPARAM(IDC_PORT, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo), &result);
    PutMs("ms", NowMs() - start);
    if (!sent) {
        Put("error", "timeout");
    }
}

void CmdClick(const std::string& arg) {
    if (!NeedMain()) {
        return;
    }
    HWND button = Control(std::atoi(arg.c_str()));
    if (!button) {
        Put("error", "no control");
        return;
    }
    Put("enabled", IsWindowEnabled(button) ? 1 : 0);
    DWORD_PTR result = 0;
    double start = NowMs();
    // Sent, not posted: it returns only when the dialog's handler has finished.
    bool sent = Send(button, BM_CLICK, 0, 0, &result);
    PutMs("ms", NowMs() - start);
    if (!sent) {
        Put("error", "timeout");
    }
}

void CmdType(const std::string& arg, bool toEdit) {
    if (!NeedMain()) {
        return;
    }
    size_t colon = arg.find(':');
    int id = std::atoi(arg.substr(0, colon).c_str());
    std::wstring text = colon == std::string::npos ? std::wstring() : Wide(arg.substr(colon + 1));
    HWND target = Control(id);
    if (toEdit && target) {
        // GetComboBoxInfo does not work across processes here; the edit is the only Edit child.
        target = FindWindowExW(target, nullptr, L"Edit", nullptr);
    }
    if (!target) {
        Put("error", "no control");
        return;
    }
    DWORD_PTR result = 0;
    Send(target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &result);
    Put("result", static_cast<long long>(result));
}

HWND g_about = nullptr;

BOOL CALLBACK PutChild(HWND child, LPARAM counter) {
    int& index = *reinterpret_cast<int*>(counter);
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    std::string key = "about.child" + std::to_string(index++);
    Put(key + ".class", Utf8(className));
    Put(key + ".id", GetDlgCtrlID(child));
    Put(key + ".text", Utf8(WindowText(child)));
    return TRUE;
}

void CmdAbout() {
    if (!NeedMain()) {
        return;
    }
    // Posted: the About box runs a modal loop inside the handler, so a sent command would not
    // return until the box is closed.
    PostMessageW(g_main, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    double start = NowMs();
    g_about = FindVisible(kAboutTitle, 5000);
    if (!g_about) {
        Put("error", "no about box");
        return;
    }
    PutMs("ms", NowMs() - start);
    Put("about.title", Utf8(WindowText(g_about)));
    Put("about.owner_is_main", GetWindow(g_about, GW_OWNER) == g_main ? 1 : 0);
    Put("main.enabled", IsWindowEnabled(g_main) ? 1 : 0);
    int index = 0;
    EnumChildWindows(g_about, PutChild, reinterpret_cast<LPARAM>(&index));
    Put("about.children", index);
}

void CmdAboutOk() {
    HWND about = g_about ? g_about : FindVisible(kAboutTitle, 0);
    if (!about) {
        Put("error", "no about box");
        return;
    }
    HWND ok = GetDlgItem(about, IDOK);
    if (!ok) {
        Put("error", "no OK button");
        return;
    }
    Put("ok.text", Utf8(WindowText(ok)));
    DWORD_PTR result = 0;
    double start = NowMs();
    Send(ok, BM_CLICK, 0, 0, &result);
    bool gone = WaitGone(about, 5000);
    PutMs("ms", NowMs() - start);
    Put("gone", gone ? 1 : 0);
    g_about = nullptr;
}

void CmdFocus(const std::string& arg) {
    if (!NeedMain()) {
        return;
    }
    HWND control = Control(std::atoi(arg.c_str()));
    DWORD_PTR result = 0;
    if (!Send(g_main, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE, &result)) {
        Put("error", "timeout");
    }
}

// Posted through the dialog's message loop, as a key press arrives: at the focused control. The
// driver does not wait for it to be handled.
void PressKey(WPARAM key) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(g_main, nullptr), &info);
    HWND target = info.hwndFocus ? info.hwndFocus : Control(IDOK);
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

void CmdClose(const std::string& how) {
    if (!NeedMain()) {
        return;
    }
    HWND main = g_main;
    double start = NowMs();
    // Posted, so the driver never waits inside the dialog's last moments.
    if (how == "ok") {
        PostMessageW(Control(IDOK), BM_CLICK, 0, 0);
    } else if (how == "esc" || how == "enter") {
        PressKey(how == "esc" ? VK_ESCAPE : VK_RETURN);
    } else if (how == "box") {
        PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
        Put("error", "unknown way to close");
        return;
    }
    bool gone = WaitGone(main, 5000);
    PutMs("ms", NowMs() - start);
    Put("closed", gone ? 1 : 0);
    if (gone) {
        g_main = nullptr;
    }
}

struct WindowCount {
    DWORD pid;
    int windows;
};

BOOL CALLBACK CountChild(HWND, LPARAM count) {
    ++reinterpret_cast<WindowCount*>(count)->windows;
    return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND hwnd, LPARAM count) {
    WindowCount& counted = *reinterpret_cast<WindowCount*>(count);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == counted.pid) {
        ++counted.windows;
        EnumChildWindows(hwnd, CountChild, count);
    }
    return TRUE;
}

// One entry of the system-wide handle table (information class 16). winternl.h does not declare
// it; its layout has been the same since NT 4 and Wine fills it in.
struct SystemHandleEntry {
    ULONG pid;
    BYTE type;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};

struct SystemHandleTable {
    ULONG count;
    SystemHandleEntry entries[1];
};

// The kernel handles a process holds, or -1. GetProcessHandleCount would be the plain way, but
// Wine answers 0 to it, and a leaked event or port handle is exactly what the soak test looks for.
long long KernelHandles(DWORD pid) {
    typedef LONG(WINAPI * QuerySystem)(ULONG, PVOID, ULONG, PULONG);
    QuerySystem query = reinterpret_cast<QuerySystem>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) {
        return -1;
    }
    const LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<unsigned char> buffer(1 << 16);
    LONG status;
    while ((status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), nullptr)) ==
           kInfoLengthMismatch) {
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) {
        return -1;
    }
    const SystemHandleTable* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
    long long held = 0;
    for (ULONG i = 0; i < table->count; ++i) {
        if (table->entries[i].pid == pid) {
            ++held;
        }
    }
    return held;
}

void CmdGui() {
    if (!NeedMain()) {
        return;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(g_main, &pid);
    Put("handles", KernelHandles(pid));
    // Wine answers 0 to GetGuiResources; the windows the process owns are countable everywhere.
    WindowCount count = {pid, 0};
    EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&count));
    Put("windows", count.windows);
}

void CmdRect() {
    if (!NeedMain()) {
        return;
    }
    RECT rect = {};
    GetWindowRect(g_main, &rect);
    Put("left", rect.left);
    Put("top", rect.top);
    Put("right", rect.right);
    Put("bottom", rect.bottom);
}

// Without a window manager the dialog is the foreground window from its start, yet its caption is
// drawn inactive, since no focus ever arrived from X. Handing the foreground to the desktop and
// back runs the whole activation, as a user's click on the window would.
void CmdActivate() {
    if (!NeedMain()) {
        return;
    }
    // Each change reaches the dialog's thread as a message: a round trip through that thread lets
    // it take the first before the second, or the two would cancel out unseen.
    DWORD_PTR ignored = 0;
    SetForegroundWindow(GetDesktopWindow());
    Send(g_main, WM_NULL, 0, 0, &ignored);
    SetForegroundWindow(g_main);
    Send(g_main, WM_NULL, 0, 0, &ignored);
    Put("active", GetForegroundWindow() == g_main ? 1 : 0);
}

bool Run(const std::string& line) {
    size_t colon = line.find(':');
    std::string name = line.substr(0, colon);
    std::string arg = colon == std::string::npos ? std::string() : line.substr(colon + 1);
    bool known = true;
    if (name == "wait") {
        CmdWait(arg);
    } else if (name == "state") {
        CmdState();
    } else if (name == "choose") {
        CmdChoose(arg);
    } else if (name == "click") {
        CmdClick(arg);
    } else if (name == "type") {
        CmdType(arg, false);
    } else if (name == "typeedit") {
        CmdType(arg, true);
    } else if (name == "focus") {
        CmdFocus(arg);
    } else if (name == "key") {
        if (NeedMain()) {
            PressKey(static_cast<WPARAM>(std::atoi(arg.c_str())));  // not waited for
        }
    } else if (name == "about") {
        CmdAbout();
    } else if (name == "aboutok") {
        CmdAboutOk();
    } else if (name == "close") {
        CmdClose(arg);
    } else if (name == "gui") {
        CmdGui();
    } else if (name == "rect") {
        CmdRect();
    } else if (name == "activate") {
        CmdActivate();
    } else {
        Put("error", "unknown command " + name);
        known = false;
    }
    Put("end", name);
    std::fflush(stdout);
    return known;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Plain \n line ends and UTF-8 bytes exactly as written.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc == 2 && std::wstring(argv[1]) == L"serve") {
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, stdin)) {
            std::string line(buffer);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
                line.pop_back();
            }
            if (line == "quit") {
                break;
            }
            if (!line.empty()) {
                Run(line);
            }
        }
        return 0;
    }
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        ok = Run(Utf8(argv[i])) && ok;
    }
    return ok ? 0 : 1;
}
