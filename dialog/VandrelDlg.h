// The main window: the "Brand" dialog. Its behaviour lives in CVandrelLogic; this class supplies
// the logic's control operations from the real controls and wires the window's messages.
#pragma once

#include "dialog/VandrelLogic.h"
#include "platform/Controls.h"
#include "platform/Dialog.h"

class CVandrelDlg : public CDialog, public CVandrelLogic {
public:
    explicit CVandrelDlg(CWnd* pParent = nullptr);
    ~CVandrelDlg() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // Each returns whether it handled the message; false leaves it to the dialog manager.
    bool OnSysCommand(UINT nID, LPARAM lParam);
    bool OnPaint();
    HCURSOR OnQueryDragIcon();
    bool OnDestroy();

    // The control operations of the logic.
    void AddListItem(BrandList list, const CString& text) override;
    void SelectFirstItem(BrandList list) override;
    int GetListSelection(BrandList list) override;
    BOOL GetListItemText(BrandList list, int index, CString& text) override;
    void EnableSetButtons(BOOL enable) override;
    void ShowStatus(const CString& text) override;

    CComboBox m_comboBrand;
    CButton m_btnSetBrand;
    CComboBox m_comboCode;
    CButton m_btnSetCode;
    CComboBox m_comboPort;
    CString m_status;
    HICON m_hIcon;

private:
    CComboBox& ListControl(BrandList list);

    DECLARE_MESSAGE_MAP()
};
