#include "dialog/VandrelDlg.h"

#include "dialog/AboutDlg.h"
#include "platform/Menu.h"
#include "platform/PaintDC.h"
#include "platform/WinApp.h"
#include "res/resource.h"

CVandrelDlg::CVandrelDlg(CWnd* pParent) : CDialog(IDD_VANDREL_DIALOG, pParent) {
    m_hIcon = ::LoadIconW(AfxFindResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

CVandrelDlg::~CVandrelDlg() = default;

void CVandrelDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_BRAND, m_comboBrand);
    DDX_Control(pDX, IDC_SET_BRAND, m_btnSetBrand);
    DDX_Control(pDX, IDC_PORT, m_comboPort);
    DDX_Text(pDX, IDC_STATUS, m_status);
    DDX_Control(pDX, IDC_CODE, m_comboCode);
    DDX_Control(pDX, IDC_SET_CODE, m_btnSetCode);
}

BEGIN_MESSAGE_MAP(CVandrelDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_WM_DESTROY()
ON_CBN_SELCHANGE(IDC_PORT, OnSelchangePort)
ON_BN_CLICKED(IDC_SET_BRAND, OnSetBrand)
ON_BN_CLICKED(IDC_SET_CODE, OnSetCode)
END_MESSAGE_MAP()

BOOL CVandrelDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    CMenu sysMenu = GetSystemMenu(FALSE);
    if (sysMenu.m_hMenu) {
        CString aboutText;
        aboutText.LoadString(IDS_ABOUTBOX);
        if (!aboutText.IsEmpty()) {
            sysMenu.AppendMenu(MF_SEPARATOR);
            sysMenu.AppendMenu(MF_STRING, IDM_ABOUTBOX, aboutText);
        }
    }
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    SetWindowText("Brand");

    StartUp();
    return TRUE;  // the focus goes to the first tab stop, "Close"
}

bool CVandrelDlg::OnSysCommand(UINT nID, LPARAM) {
    if ((nID & 0xFFF0) != IDM_ABOUTBOX) {
        return false;  // move, size, minimize, close: the system's own
    }
    CAboutDlg about;
    about.DoModal();
    return true;
}

bool CVandrelDlg::OnPaint() {
    if (!IsIconic()) {
        return CDialog::OnPaint();
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.m_hDC), 0);
    int cxIcon = ::GetSystemMetrics(SM_CXICON);
    int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    int x = (rect.right - rect.left - cxIcon + 1) / 2;
    int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
    return true;
}

HCURSOR CVandrelDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

bool CVandrelDlg::OnDestroy() {
    bool handled = CWnd::OnDestroy();
    OnDialogEnd();
    return handled;
}

CComboBox& CVandrelDlg::ListControl(BrandList list) {
    switch (list) {
        case BrandList::Port:
            return m_comboPort;
        case BrandList::Brand:
            return m_comboBrand;
        case BrandList::Code:
            break;
    }
    return m_comboCode;
}

void CVandrelDlg::AddListItem(BrandList list, const CString& text) {
    ListControl(list).AddString(text);
}

void CVandrelDlg::SelectFirstItem(BrandList list) {
    ListControl(list).SetCurSel(0);
}

// Reads of a selection and shown statuses go through the data exchange, so the status member
// and its field never disagree.
int CVandrelDlg::GetListSelection(BrandList list) {
    UpdateData(TRUE);
    int selection = ListControl(list).GetCurSel();
    UpdateData(FALSE);
    return selection;
}

BOOL CVandrelDlg::GetListItemText(BrandList list, int index, CString& text) {
    return ListControl(list).GetLBText(index, text) != CB_ERR;
}

void CVandrelDlg::EnableSetButtons(BOOL enable) {
    m_btnSetBrand.EnableWindow(enable);
    m_btnSetCode.EnableWindow(enable);
}

void CVandrelDlg::ShowStatus(const CString& text) {
    UpdateData(TRUE);
    m_status = text;
    UpdateData(FALSE);
}
