#include "dialog/VandrelLogic.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "tests/unit/scripted_serial.h"

namespace {

// The dialog with its controls kept in memory: list texts, selections, the Set buttons' enabled
// state and the status text.
class MemoryDlg : public CVandrelLogic {
public:
    struct List {
        std::vector<std::string> items;
        int selection = CB_ERR;
    };
    List lists[3];
    bool setButtonsEnabled = true;
    int enableCalls = 0;
    std::string status;  // GBK bytes, as shown

    List& list(BrandList which) { return lists[static_cast<int>(which)]; }

protected:
    void AddListItem(BrandList which, const CString& text) override {
        list(which).items.push_back(static_cast<const char*>(text));
    }
    void SelectFirstItem(BrandList which) override { list(which).selection = 0; }
    int GetListSelection(BrandList which) override { return list(which).selection; }
    BOOL GetListItemText(BrandList which, int index, CString& text) override {
        const List& l = list(which);
        if (index < 0 || index >= static_cast<int>(l.items.size())) {
            return FALSE;
        }
        text = CString(l.items[index].c_str());
        return TRUE;
    }
    void EnableSetButtons(BOOL enable) override {
        setButtonsEnabled = enable;
        ++enableCalls;
    }
    void ShowStatus(const CString& text) override { status = static_cast<const char*>(text); }
};

std::string Utf8(const std::string& gbk) {
    iconv_t cd = iconv_open("UTF-8", "GBK");
    std::string in = gbk, out(gbk.size() * 3 + 4, '\0');
    char* inp = &in[0];
    char* outp = &out[0];
    size_t inLeft = in.size(), outLeft = out.size();
    size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    EXPECT_NE(r, static_cast<size_t>(-1)) << "not GBK";
    out.resize(out.size() - outLeft);
    return out;
}

class Logic : public ::testing::Test {
protected:
    void SetUp() override { SerialScript::Current().Reset(); }
    SerialScript& serial = SerialScript::Current();
    MemoryDlg dlg;

    void Start(std::vector<BYTE> ports) {
        serial.registeredPorts = std::move(ports);
        dlg.StartUp();
    }
    void Choose(int index) {
        dlg.list(BrandList::Port).selection = index;
        dlg.OnSelchangePort();
    }
    std::string Status() { return Utf8(dlg.status); }
    bool IsClosed() { return !dlg.m_portOpen && dlg.m_hComm == nullptr; }
    bool IsFailed() { return !dlg.m_portOpen && dlg.m_hComm == INVALID_HANDLE_VALUE; }
    bool IsOpen() {
        return dlg.m_portOpen && dlg.m_hComm != nullptr && dlg.m_hComm != INVALID_HANDLE_VALUE;
    }
};

const std::vector<BYTE> kBrandFrame = {'B', 'R', 'V', 'A', 'N', 'D', 'R', 'E',
                                       'L', '8', ';', 0,   0,   0,   0,   0};
const std::vector<BYTE> kCodeFrame = {'D', 'T', 'V', '3', ';'};

TEST_F(Logic, StartUpFillsListsAndTriesNoPortWithoutASelection) {
    Start({3, 1, 12});
    const MemoryDlg::List& ports = dlg.list(BrandList::Port);
    EXPECT_EQ(ports.items, (std::vector<std::string>{"COM3", "COM1", "COM12"}));
    EXPECT_EQ(ports.selection, CB_ERR);
    EXPECT_EQ(dlg.list(BrandList::Brand).items, (std::vector<std::string>{"VANDREL8"}));
    EXPECT_EQ(dlg.list(BrandList::Brand).selection, 0);
    EXPECT_EQ(dlg.list(BrandList::Code).items, (std::vector<std::string>{"V3"}));
    EXPECT_EQ(dlg.list(BrandList::Code).selection, 0);
    EXPECT_EQ(Status(), "端口关闭");
    EXPECT_TRUE(IsFailed());
    EXPECT_FALSE(dlg.setButtonsEnabled);
    EXPECT_TRUE(serial.calls.empty()) << serial.calls[0];
}

TEST_F(Logic, StartUpWithNoRegisteredPorts) {
    Start({});
    EXPECT_TRUE(dlg.list(BrandList::Port).items.empty());
    EXPECT_FALSE(dlg.setButtonsEnabled);
    EXPECT_EQ(Status(), "端口关闭");
}

TEST_F(Logic, PortZeroIsListedAndTried) {
    Start({0});
    EXPECT_EQ(dlg.list(BrandList::Port).items, (std::vector<std::string>{"COM0"}));
    serial.openFails[0] = true;
    Choose(0);
    EXPECT_EQ(serial.calls, (std::vector<std::string>{"open 0"}));
    EXPECT_EQ(Status(), "打开端口0失败！");
}

TEST_F(Logic, ChoosingAPortThatOpensHoldsItConfigured) {
    Start({3, 7});
    Choose(1);
    EXPECT_EQ(Status(), "端口7打开");
    EXPECT_TRUE(IsOpen());
    EXPECT_TRUE(dlg.setButtonsEnabled);
    EXPECT_EQ(serial.calls, (std::vector<std::string>{"open 7", "configure"}));
    EXPECT_EQ(serial.heldPorts, 1);
}

TEST_F(Logic, ChoosingAPortThatFailsDisablesUntilAGoodOneIsChosen) {
    Start({3, 7});
    serial.openFails[3] = true;
    Choose(1);
    Choose(0);
    EXPECT_EQ(Status(), "打开端口3失败！");
    EXPECT_TRUE(IsFailed());
    EXPECT_FALSE(dlg.setButtonsEnabled);
    EXPECT_EQ(serial.heldPorts, 0) << "the port held before the failed choice was not released";

    Choose(0);  // the same bad port again
    EXPECT_TRUE(IsFailed());
    EXPECT_FALSE(dlg.setButtonsEnabled);

    Choose(1);
    EXPECT_EQ(Status(), "端口7打开");
    EXPECT_TRUE(IsOpen());
    EXPECT_TRUE(dlg.setButtonsEnabled);
    EXPECT_EQ(serial.heldPorts, 1);
}

TEST_F(Logic, ChangingPortReleasesTheHeldOneFirst) {
    Start({3, 7});
    Choose(0);
    serial.calls.clear();
    Choose(1);
    EXPECT_EQ(serial.calls, (std::vector<std::string>{"release", "open 7", "configure"}));
    EXPECT_EQ(serial.heldPorts, 1);
}

TEST_F(Logic, SetBrandReopensSendsReleases) {
    Start({3});
    Choose(0);
    int enableCalls = dlg.enableCalls;
    serial.calls.clear();
    dlg.OnSetBrand();
    EXPECT_EQ(serial.calls,
              (std::vector<std::string>{"release", "open 3", "configure",
                                        "write 42 52 56 41 4E 44 52 45 4C 38 3B 00 00 00 00 00",
                                        "release"}));
    EXPECT_EQ(serial.frames, (std::vector<std::vector<BYTE>>{kBrandFrame}));
    EXPECT_EQ(Status(), "端口关闭");
    EXPECT_TRUE(IsClosed());
    EXPECT_EQ(serial.heldPorts, 0);
    EXPECT_EQ(dlg.enableCalls, enableCalls) << "a Set press must not touch the buttons";
}

TEST_F(Logic, SetCodeSendsTheFiveByteFrame) {
    Start({3});
    Choose(0);
    dlg.OnSetCode();
    EXPECT_EQ(serial.frames, (std::vector<std::vector<BYTE>>{kCodeFrame}));
    EXPECT_EQ(Status(), "端口关闭");
    EXPECT_TRUE(IsClosed());
    // After the press the port is closed; a second press opens it afresh from Closed.
    dlg.OnSetBrand();
    EXPECT_EQ(serial.frames.size(), 2u);
    EXPECT_TRUE(IsClosed());
    EXPECT_EQ(serial.heldPorts, 0);
}

TEST_F(Logic, SetPressOnAPortThatFailsSendsNothing) {
    Start({3});
    Choose(0);
    serial.openFails[3] = true;  // another program took the port
    dlg.OnSetBrand();
    EXPECT_TRUE(serial.frames.empty());
    EXPECT_EQ(Status(), "打开端口3失败！");
    EXPECT_TRUE(IsFailed());
    EXPECT_TRUE(dlg.setButtonsEnabled) << "a Set press must not disable the buttons";
    EXPECT_EQ(serial.heldPorts, 0);
}

TEST_F(Logic, SetPressWithNoListSelectionSendsNothingAndHoldsNothing) {
    Start({3});
    Choose(0);
    dlg.list(BrandList::Brand).selection = CB_ERR;
    dlg.OnSetBrand();
    dlg.list(BrandList::Code).selection = CB_ERR;
    dlg.OnSetCode();
    EXPECT_TRUE(serial.frames.empty());
    EXPECT_TRUE(IsClosed());
    EXPECT_EQ(serial.heldPorts, 0);
    EXPECT_EQ(Status(), "端口关闭");
}

TEST_F(Logic, SetPressWithNoPortSelectedTriesNothing) {
    Start({3});
    dlg.OnSetBrand();
    EXPECT_TRUE(serial.calls.empty());
    EXPECT_TRUE(IsFailed());
}

TEST_F(Logic, SelectedItemIsWhatIsSent) {
    Start({3});
    Choose(0);
    dlg.list(BrandList::Code).items.push_back("Q");
    dlg.list(BrandList::Code).selection = 1;
    dlg.OnSetCode();
    EXPECT_EQ(serial.frames, (std::vector<std::vector<BYTE>>{{'D', 'T', 'Q', 0, ';'}}));
}

TEST_F(Logic, EmptyCodeItemSendsNothingButReleases) {
    Start({3});
    Choose(0);
    dlg.list(BrandList::Code).items[0] = "";
    dlg.OnSetCode();
    EXPECT_TRUE(serial.frames.empty());
    EXPECT_TRUE(IsClosed());
    EXPECT_EQ(serial.heldPorts, 0);
}

TEST_F(Logic, DialogEndReleasesAHeldPortAndLeavesTheStatus) {
    Start({3});
    Choose(0);
    dlg.OnDialogEnd();
    EXPECT_TRUE(IsClosed());
    EXPECT_EQ(serial.heldPorts, 0);
    EXPECT_EQ(Status(), "端口3打开");
}

TEST_F(Logic, DialogEndLeavesAFailureMarker) {
    Start({3});
    serial.openFails[3] = true;
    Choose(0);
    serial.calls.clear();
    dlg.OnDialogEnd();
    EXPECT_TRUE(IsFailed());
    EXPECT_TRUE(serial.calls.empty());
}

TEST_F(Logic, ClosePortOnlyActsOnAHeldPort) {
    Start({3});
    serial.openFails[3] = true;
    Choose(0);
    dlg.ClosePort();
    EXPECT_TRUE(IsFailed());
    EXPECT_EQ(Status(), "打开端口3失败！");

    serial.openFails[3] = false;
    Choose(0);
    dlg.ClosePort();
    EXPECT_TRUE(IsClosed());
    EXPECT_EQ(Status(), "端口关闭");
}

TEST_F(Logic, FullPortTable) {
    std::vector<BYTE> ports;
    for (int i = 0; i < 255; ++i) {
        ports.push_back(static_cast<BYTE>(i));
    }
    Start(ports);
    EXPECT_EQ(dlg.m_portCount, 255);
    ASSERT_EQ(dlg.list(BrandList::Port).items.size(), 255u);
    EXPECT_EQ(dlg.list(BrandList::Port).items[254], "COM254");
    Choose(254);
    EXPECT_EQ(Status(), "端口254打开");
}

}  // namespace
