// What the brand dialog does, apart from its window: which port it holds, what the status field
// says, and which frame each button sends. It reaches its controls only through the few
// operations below, which the window supplies from the real controls and the unit tests from
// memory.
#pragma once

#include "platform/CString.h"
#include "platform/win_types.h"
#include "serial/discovery.h"

enum class BrandList { Port, Brand, Code };

class CVandrelLogic {
public:
    CVandrelLogic() = default;
    virtual ~CVandrelLogic() = default;
    CVandrelLogic(const CVandrelLogic&) = delete;
    CVandrelLogic& operator=(const CVandrelLogic&) = delete;

    // Runs once when the dialog starts: fills the lists and makes the first open attempt.
    void StartUp();
    // Releases any held port, then opens and configures the port selected in the port list.
    void OpenSelectedPort();
    // Releases a held port and says so in the status field.
    void ClosePort();
    void OnSelchangePort();
    void OnSetBrand();
    void OnSetCode();
    // The window is going away: let go of the port, leave the status alone.
    void OnDialogEnd();
    void EnumSerialPorts();

    // TRUE exactly while a port opened by OpenSelectedPort is held.
    BOOL m_portOpen = FALSE;
    BYTE m_portCount = 0;
    BYTE m_portNumbers[kPortTableCapacity] = {};
    // 0: no port; INVALID_HANDLE_VALUE: the last open failed; otherwise the held port.
    HANDLE m_hComm = nullptr;

protected:
    // The control operations the logic needs. Indices are the lists' own (CB_ERR for none).
    virtual void AddListItem(BrandList list, const CString& text) = 0;
    virtual void SelectFirstItem(BrandList list) = 0;
    virtual int GetListSelection(BrandList list) = 0;
    // FALSE when the list has no item at `index`.
    virtual BOOL GetListItemText(BrandList list, int index, CString& text) = 0;
    virtual void EnableSetButtons(BOOL enable) = 0;
    virtual void ShowStatus(const CString& text) = 0;

private:
    void ShowStatus(const char* format, int port);
    void ReleaseHeldPort();
    void EnableSetButtonsFromOpen();
    // Opens the selected port, sends the frame built from the selected item of `list`, and
    // releases the port again.
    void SendSelected(BrandList list);
};
