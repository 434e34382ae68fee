// The brand dialog's logic with text in place of a window: every list item, status change and
// Set-button state is printed, so the real start-up, port choice and both Set presses can be
// run end to end on the real serial layer from a console (and from a test).
//
//   brand_console [COMn]   chooses COMn from the port list (else the first listed port),
//                          presses Set for the brand and for the code, then ends the dialog.
//
// Output is UTF-8; the logic's own texts are GBK and are converted here.
#include "platform/win_types.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dialog/VandrelLogic.h"

namespace {

// A user's pause before each press. Each press opens the port and purges it; on a line that has
// not yet taken the previous frame (a slow device, or a pty whose reader lags) the purge would
// drop that frame, which no user pressing buttons by hand ever sees.
const DWORD kPressPauseMs = 200;

// GBK bytes -> UTF-8 for the console, independently of the system's ANSI code page.
std::string GbkToUtf8(const char* text) {
    const UINT kGbk = 936;
    int wide = MultiByteToWideChar(kGbk, 0, text, -1, nullptr, 0);
    if (wide <= 0) {
        return text;
    }
    std::wstring w(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(kGbk, 0, text, -1, &w[0], wide);
    int narrow = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (narrow <= 0) {
        return text;
    }
    std::string out(static_cast<size_t>(narrow), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &out[0], narrow, nullptr, nullptr);
    out.resize(static_cast<size_t>(narrow - 1));
    return out;
}

const char* ListName(BrandList list) {
    switch (list) {
        case BrandList::Port:
            return "port";
        case BrandList::Brand:
            return "brand";
        case BrandList::Code:
            return "code";
    }
    return "?";
}

class CConsoleDialog : public CVandrelLogic {
public:
    // Selects the item whose text is `name`, or the first item when `name` is empty, and runs
    // the port-choice handler as the window would. FALSE when there is no such item.
    BOOL ChoosePort(const char* name) {
        const std::vector<std::string>& ports = m_items[Index(BrandList::Port)];
        for (size_t i = 0; i < ports.size(); ++i) {
            if (!*name || _stricmp(ports[i].c_str(), name) == 0) {
                m_selection[Index(BrandList::Port)] = static_cast<int>(i);
                std::printf("SELECT port %s\n", GbkToUtf8(ports[i].c_str()).c_str());
                OnSelchangePort();
                return TRUE;
            }
        }
        return FALSE;
    }

    void PrintLists() {
        for (BrandList list : {BrandList::Port, BrandList::Brand, BrandList::Code}) {
            std::string line = std::string("LIST ") + ListName(list);
            for (const std::string& item : m_items[Index(list)]) {
                line += " " + GbkToUtf8(item.c_str());
            }
            std::printf("%s\n", line.c_str());
        }
    }

protected:
    void AddListItem(BrandList list, const CString& text) override {
        m_items[Index(list)].push_back(static_cast<const char*>(text));
        std::printf("ADD %s %s\n", ListName(list), GbkToUtf8(text).c_str());
    }
    void SelectFirstItem(BrandList list) override {
        m_selection[Index(list)] = m_items[Index(list)].empty() ? CB_ERR : 0;
    }
    int GetListSelection(BrandList list) override { return m_selection[Index(list)]; }
    BOOL GetListItemText(BrandList list, int index, CString& text) override {
        const std::vector<std::string>& items = m_items[Index(list)];
        if (index < 0 || static_cast<size_t>(index) >= items.size()) {
            return FALSE;
        }
        text = CString(items[static_cast<size_t>(index)].c_str());
        return TRUE;
    }
    void EnableSetButtons(BOOL enable) override {
        std::printf("BUTTONS %s\n", enable ? "enabled" : "disabled");
    }
    void ShowStatus(const CString& text) override {
        std::printf("STATUS %s\n", GbkToUtf8(text).c_str());
    }

private:
    static size_t Index(BrandList list) { return static_cast<size_t>(list); }

    std::vector<std::string> m_items[3];
    int m_selection[3] = {CB_ERR, CB_ERR, CB_ERR};
};

}  // namespace

int main(int argc, char** argv) {
    // Plain "\n" line ends and no buffering: the output is read by tests line by line.
    _setmode(_fileno(stdout), _O_BINARY);
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    const char* wanted = argc > 1 ? argv[1] : "";
    CConsoleDialog dialog;
    dialog.StartUp();
    dialog.PrintLists();
    int result = 0;
    if (dialog.ChoosePort(wanted)) {
        Sleep(kPressPauseMs);
        std::printf("PRESS brand\n");
        dialog.OnSetBrand();
        Sleep(kPressPauseMs);
        std::printf("PRESS code\n");
        dialog.OnSetCode();
    } else {
        std::printf("NOPORT %s\n", *wanted ? wanted : "(none listed)");
        result = 1;
    }
    dialog.OnDialogEnd();
    std::printf("END\n");
    return result;
}
