#include "dialog/VandrelLogic.h"

#include <optional>

#include "dialog/status_texts.h"
#include "protocol/built_in_texts.h"
#include "protocol/frames.h"
#include "serial/serial_port.h"

void CVandrelLogic::StartUp() {
    EnumSerialPorts();
    for (BYTE i = 0; i < m_portCount; ++i) {
        CString item;
        item.Format("COM%d", m_portNumbers[i]);
        AddListItem(BrandList::Port, item);
    }
    ShowStatus(CString(kStatusClosed));
    m_hComm = nullptr;
    AddListItem(BrandList::Brand, CString(kBuiltInBrand));
    SelectFirstItem(BrandList::Brand);
    AddListItem(BrandList::Code, CString(kBuiltInCode));
    SelectFirstItem(BrandList::Code);
    OpenSelectedPort();
    EnableSetButtonsFromOpen();
}

void CVandrelLogic::EnumSerialPorts() {
    m_portCount = ReadRegisteredPorts(m_portNumbers);
}

void CVandrelLogic::OpenSelectedPort() {
    ClosePort();
    int index = GetListSelection(BrandList::Port);
    if (index < 0 || index >= m_portCount) {
        // Nothing chosen (or an item without a port behind it): try no port at all rather than
        // guess one, and leave the marker that keeps the Set buttons disabled.
        m_hComm = INVALID_HANDLE_VALUE;
        return;
    }
    BYTE number = m_portNumbers[index];
    m_hComm = OpenPort(number);
    if (m_hComm == INVALID_HANDLE_VALUE) {
        ShowStatus(kStatusOpenFailed, number);
        return;
    }
    ShowStatus(kStatusOpened, number);
    m_portOpen = TRUE;
    ConfigureSerialPort(m_hComm);
}

void CVandrelLogic::ClosePort() {
    if (!m_portOpen) {
        return;  // a failure marker in m_hComm stays
    }
    ReleaseHeldPort();
    ShowStatus(CString(kStatusClosed));
}

void CVandrelLogic::OnSelchangePort() {
    ReleaseHeldPort();
    m_hComm = nullptr;
    ShowStatus(CString(kStatusClosed));
    OpenSelectedPort();
    EnableSetButtonsFromOpen();
}

void CVandrelLogic::OnSetBrand() {
    SendSelected(BrandList::Brand);
}

void CVandrelLogic::OnSetCode() {
    SendSelected(BrandList::Code);
}

void CVandrelLogic::OnDialogEnd() {
    ReleaseHeldPort();
}

void CVandrelLogic::SendSelected(BrandList list) {
    OpenSelectedPort();
    if (!m_portOpen) {
        return;  // the status field already shows why
    }
    // The index travels as a byte, so "no selection" arrives as 255, which no item has: then
    // nothing is sent. Only list items are ever sent, never text typed into a list's edit field.
    BYTE index = static_cast<BYTE>(GetListSelection(list));
    CString text;
    if (GetListItemText(list, index, text)) {
        size_t length = static_cast<size_t>(text.GetLength());
        if (list == BrandList::Brand) {
            BrandFrame frame = BuildBrandFrame(text, length);
            WriteFrame(frame.data(), static_cast<DWORD>(frame.size()), m_hComm);
        } else if (std::optional<CodeFrame> frame = BuildCodeFrame(text, length)) {
            WriteFrame(frame->data(), static_cast<DWORD>(frame->size()), m_hComm);
        }
    }
    ClosePort();
}

void CVandrelLogic::ShowStatus(const char* format, int port) {
    CString text;
    text.Format(format, port);
    ShowStatus(text);
}

void CVandrelLogic::ReleaseHeldPort() {
    if (m_portOpen) {
        m_portOpen = FALSE;
        ReleasePort(m_hComm);
        m_hComm = nullptr;
    }
}

void CVandrelLogic::EnableSetButtonsFromOpen() {
    EnableSetButtons(m_hComm != INVALID_HANDLE_VALUE);
}
