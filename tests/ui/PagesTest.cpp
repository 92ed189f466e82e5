// The host window, the device selection page and the small dialogs, driven on the simulated
// machine's UI thread: the real start-up runs the host modally on a thread of its own, the test
// acts as the user (clicks, rows, keys) and reads the controls' state.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "app/KavidApp.h"
#include "logging/DUDiduzuz.h"
#include "platform/api/Text.h"
#include "platform/sim/SimMachine.h"
#include "resources/resource.h"
#include "strings/StringTable.h"
#include "system/Helper.h"
#include "tests/support/CheckTables.h"
#include "tests/support/PortHelpers.h"
#include "tests/support/ScenarioSim.h"
#include "ui/AboutBoxDlg.h"
#include "ui/InstructionDlg.h"
#include "ui/KVDMainDlg.h"
#include "ui/KVDParent.h"
#include "ui/KvdDiagnoseDlg.h"
#include "ui/PrgrsDlg.h"
#include "ui/TwainSourceDlg.h"
#include "ui/WiaProgressDlg.h"
#include "ui/sim/SimUi.h"

namespace {

using kvd::platform::WindowHandle;
using kvd::ui::sim::SimUi;
namespace ui = kvd::ui;

const std::wstring kStrings = L"C:\\Program Files (x86)\\Quvari\\Kavid\\strings\\1033.xml";
const std::wstring kLog = L"C:\\Users\\tester\\AppData\\Local\\Temp\\qv_kvd.log";

struct Text {
  const char* key;
  const char* value;
};

// The texts the pages show, distinct enough to tell each apart.
const std::vector<Text> kTexts = {
    {"TITLE", "Quvari Kavid"},
    {"ABOUT_TITLE", "About Quvari Kavid"},
    {"VERSION", "Version"},
    {"COPYRIGHT", "Copyright Quvari"},
    {"OK", "OK"},
    {"SCANNER", "Scanner"},
    {"PORT", "Port"},
    {"MODEL", "Model"},
    {"DIAGNOSE", "Diagnose"},
    {"TECH_INFO", "Technical Information"},
    {"CANCEL", "Cancel"},
    {"DEVICE_SELECTION_MSG", "Select your device"},
    {"INFO_MSG", "More at <a>our site</a>"},
    {"NO_SCANNER", "No scanner was found"},
    {"QV_LINK_CUSTOMER", "https://example.com/quvari/kavid/customer"},
    {"CLOSE", "Close"},
    {"INSTRUCTION", "intro"},
    {"INSTRUCTION1", "one"},
    {"INSTRUCTION2", "two"},
    {"INSTRUCTION3", "three"},
    {"INSTRUCTION4", "four"},
    {"INSTRUCTION5", "five"},
    {"SCANNING_TITLE", "Scanning"},
    {"TWAIN_SELECT_SOURCE", "Select Your Scanner"},
};

void PutStrings(kvd::sim::SimMachine& sim, const std::vector<Text>& texts) {
  std::string xml = "<Strings>";
  for (const Text& t : texts)
    xml += std::string("<String ID=\"") + t.key + "\" Value=\"" + t.value + "\"/>";
  xml += "</Strings>";
  sim.Files().PutFile(kStrings, {xml.begin(), xml.end()});
}

class Pages : public ::testing::Test {
 protected:
  Pages() : ui_(sim_.Messages()), store_(sim_.Ports().sync), logger_(sim_.Ports(), store_) {
    DUDiduzuz::CLogModule::SetCurrent(&logger_);
    PutStrings(sim_, kTexts);
  }
  ~Pages() override {
    End();
    DUDiduzuz::CLogModule::SetCurrent(nullptr);
  }

  // Starts the program; returns once the host window and its first page exist.
  void Start() {
    app_ = std::make_unique<CKavidApp>(sim_.Ports());
    app_->SetUi(&ui_);
    if (checks_) app_->SetCheckTable(*checks_);
    runner_ = std::thread([this] { app_->InitInstance(); });
    // The host's WM_INITDIALOG creates the first page: once it is handled, both are in place.
    WaitFor([&] {
      const auto hosts = ui_.WindowsOf(IDD_PARENT);
      return !hosts.empty() && ui_.State(hosts[0]).initialised && !ui_.WindowsOf(IDD_MAIN).empty();
    });
  }
  // Waits until the enumeration reported the device list to a page.
  void WaitForDeviceList() {
    WaitFor([&] {
      for (const auto& m : sim_.Messages().Delivered()) {
        if (m.message == CKVDMainDlg::kDeviceListReady) return true;
      }
      return false;
    });
  }
  template <class Condition>
  void WaitFor(Condition done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
      ASSERT_LT(std::chrono::steady_clock::now(), until) << "the UI never got there";
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    sim_.Messages().RunUntilIdle();
  }
  // Ends the program as a user would (not busy any more, Close), and its start-up returns.
  void End() {
    if (!runner_.joinable()) return;
    sim_.ReleaseHangs();
    const WindowHandle host = Host();
    if (host != 0) {
      // Whatever the test left running: the user waits for it, then closes.
      ui_.Call([this] { app_->m_bBusy = false; });
      ui_.Post(host, 0x0010 /* WM_CLOSE */, 0, 0);
    }
    runner_.join();
    app_->ExitInstance();
    app_.reset();
  }
  // Moves the simulated clock from timer to timer (the page's run goes on by them) until `done`.
  template <class Condition>
  void DriveUntil(Condition done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    sim_.Messages().RunUntilIdle();
    while (!done()) {
      ASSERT_LT(std::chrono::steady_clock::now(), until) << "the run never got there";
      if (Settle(done)) break;
      if (!sim_.Messages().AdvanceToNextTimer())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      sim_.Messages().RunUntilIdle();
    }
  }
  // Lets the page and the manager's threads catch up before the clock moves again: a worker
  // the machine has not scheduled yet must not sleep through its own 80 s watchdog. True when
  // `done` came true meanwhile. A thread that waits on something the simulation does not see
  // (a dialog's own loop) holds the clock back for a second at most.
  template <class Condition>
  bool Settle(Condition done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    for (;;) {
      sim_.Messages().RunUntilIdle();
      const std::size_t running = app_->m_pDiagMgr ? app_->m_pDiagMgr->RunningThreads() : 0;
      if (done()) return true;
      if (running <= sim_.Sync().BlockedEventWaits() + sim_.HungCalls()) return false;
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  // Waits for start-up to return after the host closed by itself.
  void Join() {
    runner_.join();
    app_->ExitInstance();
  }

  WindowHandle Host() const {
    const auto hosts = ui_.WindowsOf(IDD_PARENT);
    return hosts.empty() ? 0 : hosts.back();
  }
  WindowHandle Page(int resource) const {
    const auto pages = ui_.WindowsOf(resource);
    return pages.empty() ? 0 : pages.back();
  }
  SimUi::ListState List() const { return ui_.State(Page(IDD_MAIN)).lists[IDC_LIST_DEVICES]; }
  bool Enabled(WindowHandle window, int id) const {
    const auto state = ui_.State(window);
    auto it = state.controls.find(id);
    return it == state.controls.end() || it->second.enabled;
  }
  std::wstring Log() {
    const auto bytes = sim_.Files().GetFile(kLog);
    return bytes ? kvd::test::DecodeUtf16(*bytes) : std::wstring();
  }
  static int Count(const std::wstring& text, const std::wstring& part) {
    int n = 0;
    for (auto at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

  kvd::sim::SimMachine sim_;
  SimUi ui_;
  DUDiduzuz::SettingsStore store_;
  DUDiduzuz::CLogModule logger_;
  std::unique_ptr<CKavidApp> app_;
  std::optional<CheckTable> checks_;
  std::thread runner_;
};

TEST_F(Pages, TheHostShowsTheDevicesInDiscoveryOrder) {
  kvd::test::ApplyNamed("usb-aio-composite.xml", sim_);
  kvd::test::ApplyNamed("network-lumeq.xml", sim_);
  Start();
  WaitForDeviceList();

  const auto host = ui_.State(Host());
  EXPECT_EQ(host.text, L"Quvari Kavid");
  EXPECT_EQ(host.bigIcon, ui_.LoadIcon(IDR_MAINFRAME));
  const auto menu = ui_.MenuItems(app_->m_pSysMenu);
  ASSERT_EQ(menu.size(), 3u);  // Close, then the separator and the About item
  EXPECT_EQ(menu[1].flags, ui::MfSeparator);
  EXPECT_EQ(menu[2].id, IDM_ABOUTBOX);
  EXPECT_EQ(menu[2].text, L"About Quvari Kavid");

  const WindowHandle page = Page(IDD_MAIN);
  const auto state = ui_.State(page);
  EXPECT_TRUE(state.visible);
  EXPECT_EQ(state.parent, Host());
  EXPECT_EQ(state.controls.at(IDC_TITLE).text, L"Quvari Kavid");
  EXPECT_EQ(state.controls.at(IDC_TITLE).font, app_->m_hTitleFont);
  EXPECT_EQ(state.controls.at(IDC_LINK_INFO).text, L"More at <a>our site</a>");
  EXPECT_EQ(state.controls.at(IDC_BTN_DIAGNOSE).text, L"Diagnose");
  EXPECT_EQ(state.controls.at(IDC_BTN_DIAGNOSE).font, app_->m_hButtonFont);
  EXPECT_FALSE(Enabled(page, IDC_BTN_DIAGNOSE));
  EXPECT_FALSE(Enabled(page, IDC_BTN_TECHINFO));  // no technical-information tool installed
  EXPECT_TRUE(Enabled(page, IDC_BTN_CANCEL));

  const auto list = List();
  EXPECT_EQ(list.extendedStyle, ui::LvsExFullRowSelect | ui::LvsExSubItemImages);
  const std::vector<std::pair<std::wstring, int>> columns = {
      {L"Scanner", 180}, {L"Port", 180}, {L"Model", 180}};
  EXPECT_EQ(list.columns, columns);
  const auto& devices = app_->m_pDiagMgr->Devices();
  ASSERT_EQ(devices.size(), 2u);
  ASSERT_EQ(list.rows.size(), 2u);
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const std::vector<std::wstring> row = {devices[i].strFriendlyName, devices[i].strPort,
                                           devices[i].strModel};
    EXPECT_EQ(list.rows[i], row);
  }
  // The wait cursor's timer is gone once the list is filled.
  EXPECT_FALSE(sim_.Messages().AdvanceToNextTimer());
  EXPECT_TRUE(ui_.Popups().empty());
  const std::wstring log = Log();
  for (const wchar_t* line : {L"Display Main Dialog", L"KVDMainDlg displayed",
                              L"CKVDMainDlg::FillListCtrl", L"Fill scanners list"}) {
    EXPECT_NE(log.find(line), std::wstring::npos) << kvd::platform::NarrowUtf8(line);
  }
  EXPECT_TRUE(sim_.Shell().Boxes().empty());
}

TEST_F(Pages, ARowEnablesDiagnoseWhichHidesThePageAndOpensTheDiagnosisPage) {
  kvd::test::ApplyNamed("usb-aio-composite.xml", sim_);
  kvd::test::ApplyNamed("network-lumeq.xml", sim_);
  Start();
  WaitForDeviceList();
  const WindowHandle page = Page(IDD_MAIN);

  ui_.SelectRow(page, IDC_LIST_DEVICES, -1);  // a notification without a selection
  EXPECT_FALSE(Enabled(page, IDC_BTN_DIAGNOSE));
  ui_.SelectRow(page, IDC_LIST_DEVICES, 1);
  EXPECT_TRUE(Enabled(page, IDC_BTN_DIAGNOSE));
  EXPECT_EQ(app_->m_nDeviceIndex, 1);

  ui_.Click(page, IDC_BTN_DIAGNOSE);
  // Hidden, not destroyed; the diagnosis page in the host.
  ASSERT_TRUE(ui_.Exists(page));
  EXPECT_FALSE(ui_.State(page).visible);
  const WindowHandle diagnosis = Page(IDD_DIAGNOSE);
  ASSERT_NE(diagnosis, 0u);
  EXPECT_TRUE(ui_.State(diagnosis).visible);
  EXPECT_EQ(ui_.State(diagnosis).parent, Host());
  EXPECT_EQ(g_hWatchTarget.load(), diagnosis);
  EXPECT_NE(Log().find(L"Clicked Diagnose."), std::wstring::npos);

  // Back, once the run stopped: a new device page, filled at once from the same devices,
  // without a new report.
  DriveUntil([&] { return Enabled(diagnosis, 1003); });
  const auto reportsBefore = sim_.Messages().Delivered().size();
  ui_.Click(diagnosis, 1003);
  EXPECT_FALSE(ui_.Exists(page));
  const WindowHandle fresh = Page(IDD_MAIN);
  ASSERT_NE(fresh, page);
  EXPECT_EQ(List().rows.size(), 2u);
  EXPECT_FALSE(Enabled(fresh, IDC_BTN_DIAGNOSE));
  int reports = 0;
  const auto delivered = sim_.Messages().Delivered();
  for (std::size_t i = reportsBefore; i < delivered.size(); ++i)
    reports += delivered[i].message == CKVDMainDlg::kDeviceListReady ? 1 : 0;
  EXPECT_EQ(reports, 0);
}

TEST_F(Pages, TheHostClosesOnlyWhileNothingRuns) {
  kvd::test::ApplyNamed("usb-aio-composite.xml", sim_);
  Start();
  WaitForDeviceList();
  const WindowHandle host = Host();

  app_->m_bBusy = true;  // a check runs
  ui_.PressEscape(host);
  ui_.Post(host, 0x0010 /* WM_CLOSE */, 0, 0);
  ui_.Post(host, ui::wm::SysCommand, ui::ScClose, 0);
  ui_.PressEscape(Page(IDD_MAIN));  // the page's own Escape does nothing either
  ui_.Click(Page(IDD_MAIN), IDC_BTN_CANCEL);
  EXPECT_TRUE(ui_.Exists(host));

  app_->m_bBusy = false;
  ui_.Click(Page(IDD_MAIN), IDC_BTN_CANCEL);
  Join();
  EXPECT_EQ(app_->m_nHostResult, ui::IdCancel);
  EXPECT_FALSE(ui_.Exists(host));
  EXPECT_EQ(Count(Log(), L"Clicked cancel from Main dialog."), 2);
}

TEST_F(Pages, NoDeviceShowsItsMessageOnceAPerRun) {
  Start();
  WaitForDeviceList();
  const auto boxes = sim_.Shell().Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, L"No scanner was found");
  EXPECT_EQ(boxes[0].caption, L"Quvari Kavid");
  EXPECT_EQ(boxes[0].owner, Page(IDD_MAIN));
  EXPECT_FALSE(Enabled(Page(IDD_MAIN), IDC_BTN_DIAGNOSE));

  // To the diagnosis page (as the tester's menu does) and back: the refill shows no box again.
  EXPECT_EQ(ui_.Send(Host(), CKVDParent::kPageRequest, 0, 1), 1);
  EXPECT_EQ(ui_.Send(Host(), CKVDParent::kPageRequest, 0, 0), 1);
  EXPECT_EQ(sim_.Shell().Boxes().size(), 1u);
  EXPECT_TRUE(List().rows.empty());
}

// The enumeration never reports: the list stays empty, the wait cursor keeps being shown, and
// the program still closes. A page made again meanwhile does not read the array that the
// enumeration still fills: it waits for the report like the first page, and fills once.
TEST_F(Pages, AListThatNeverArrivesAndARefillBeforeIt) {
  kvd::test::ApplyNamed("usb-aio-composite.xml", sim_);
  sim_.InjectHang("GetClassDevs", 1);
  Start();
  WaitFor([&] { return sim_.HungCalls() == 1; });
  const int before = ui_.WaitCursorShown();
  ASSERT_TRUE(sim_.Messages().AdvanceToNextTimer());
  sim_.Messages().RunUntilIdle();
  ASSERT_TRUE(sim_.Messages().AdvanceToNextTimer());
  sim_.Messages().RunUntilIdle();
  EXPECT_GE(ui_.WaitCursorShown(), before + 2);
  EXPECT_TRUE(List().rows.empty());
  EXPECT_FALSE(Enabled(Page(IDD_MAIN), IDC_BTN_DIAGNOSE));

  EXPECT_EQ(ui_.Send(Host(), CKVDParent::kPageRequest, 0, 1), 1);
  EXPECT_EQ(ui_.Send(Host(), CKVDParent::kPageRequest, 0, 0), 1);
  EXPECT_TRUE(List().rows.empty());
  EXPECT_TRUE(sim_.Shell().Boxes().empty());

  sim_.ReleaseHangs();
  WaitForDeviceList();
  EXPECT_EQ(List().rows.size(), app_->m_pDiagMgr->Devices().size());
  EXPECT_EQ(List().rows.size(), 1u);
}

TEST_F(Pages, PageRequestsSwitchPages) {
  kvd::test::ApplyNamed("usb-aio-composite.xml", sim_);
  Start();
  WaitForDeviceList();
  const WindowHandle host = Host();
  // Help before any diagnosis page exists: "back" has nothing to show.
  EXPECT_EQ(ui_.Send(host, CKVDParent::kPageRequest, 3, 1), 0);
  EXPECT_EQ(ui_.Send(host, CKVDParent::kPageRequest, 0, 1), 1);
  const WindowHandle diagnosis = Page(IDD_DIAGNOSE);
  EXPECT_EQ(ui_.Send(host, CKVDParent::kPageRequest, 0, 2), 1);
  const WindowHandle help = Page(IDD_HELP);
  ASSERT_NE(help, 0u);
  EXPECT_EQ(ui_.State(help).parent, host);
  // Back from help: the same diagnosis page, the focus on Retest.
  ui_.Click(help, 1003);
  EXPECT_EQ(Page(IDD_DIAGNOSE), diagnosis);
  EXPECT_TRUE(ui_.State(diagnosis).visible);
  EXPECT_EQ(ui_.State(diagnosis).focusItem, IDC_BTN_RETEST);
  // Any other lParam is the help page; the simulation's wParam 100 a new diagnosis page.
  EXPECT_EQ(ui_.Send(host, CKVDParent::kPageRequest, 0, 7), 1);
  EXPECT_NE(Page(IDD_HELP), help);
  EXPECT_EQ(ui_.Send(host, CKVDParent::kPageRequest, 100, 1), 1);
  EXPECT_FALSE(ui_.Exists(diagnosis));
  EXPECT_EQ(ui_.WindowsOf(IDD_DIAGNOSE).size(), 1u);
}

TEST_F(Pages, TheHiddenMenuOpensOnlyWithBothLeftKeysOnTheDevicePage) {
  kvd::test::ApplyNamed("usb-aio-composite.xml", sim_);
  Start();
  WaitForDeviceList();
  const WindowHandle host = Host();
  // The icon answers as the caption, so that a click on it does not open the system menu.
  EXPECT_EQ(ui_.ClickCaption(host, ui::HtSysMenu), ui::HtCaption);
  EXPECT_EQ(ui_.ClickCaption(host, 12 /* HTTOP */), 12);
  EXPECT_TRUE(ui_.Popups().empty());

  struct Case {
    const char* name;
    std::vector<int> keys;
    bool opens;
  };
  const Case cases[] = {
      {"left Shift and left Ctrl", {ui::VkLShift, ui::VkLControl}, true},
      {"left Shift alone", {ui::VkLShift}, false},
      {"right Shift and left Ctrl", {0xA1, ui::VkLControl}, false},
      {"left Shift and right Ctrl", {ui::VkLShift, 0xA3}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int key : {ui::VkLShift, ui::VkLControl, 0xA1, 0xA3}) ui_.SetKeyDown(key, false);
    for (int key : c.keys) ui_.SetKeyDown(key, true);
    const auto before = ui_.Popups().size();
    ui_.ClickCaption(host, ui::HtCaption);
    EXPECT_EQ(ui_.Popups().size(), before + (c.opens ? 1 : 0));
  }
  const auto popup = ui_.Popups().front();
  EXPECT_EQ(popup.resource, IDR_SIMULATION_MENU);
  EXPECT_EQ(popup.owner, host);
  EXPECT_EQ(popup.x, 100 + 3);          // left edge + the dialog frame
  EXPECT_EQ(popup.y, 80 + 19 + 3 + 3);  // top + caption + frame + 3

  ui_.SetKeyDown(ui::VkLShift, true);
  ui_.SetKeyDown(ui::VkLControl, true);
  EXPECT_EQ(ui_.Send(host, CKVDParent::kPageRequest, 0, 1), 1);
  const auto before = ui_.Popups().size();
  ui_.ClickCaption(host, ui::HtCaption);
  EXPECT_EQ(ui_.Popups().size(), before);
}

TEST_F(Pages, ADeviceChangeIsOneRecordAndNothingElse) {
  kvd::test::ApplyNamed("usb-aio-composite.xml", sim_);
  Start();
  WaitForDeviceList();
  const auto rows = List().rows;
  EXPECT_EQ(ui_.Send(Host(), ui::wm::DeviceChange, 7, 0), 1);
  const std::wstring log = Log();
  EXPECT_EQ(Count(log, L"WM_DEVICECHANGE"), 1);
  const auto at = log.find(L"WM_DEVICECHANGE MSG with WPARAM = 7 and LPARAM = 0\r\n");
  ASSERT_NE(at, std::wstring::npos);
  const auto lineStart = log.rfind(L'\n', at);
  EXPECT_NE(log.substr(lineStart, at - lineStart).find(L"(I0)"), std::wstring::npos);
  EXPECT_EQ(List().rows, rows);
}

TEST_F(Pages, TheAboutBoxFromTheSystemMenu) {
  Start();
  WaitForDeviceList();
  ui_.Post(Host(), ui::wm::SysCommand, IDM_ABOUTBOX, 0);
  const auto modals = ui_.Modals();
  ASSERT_EQ(modals.size(), 1u);
  const auto& about = modals[0];
  EXPECT_EQ(about.resource, IDD_ABOUTBOX);
  EXPECT_EQ(about.owner, Host());
  EXPECT_EQ(about.text, L"About Quvari Kavid");
  EXPECT_EQ(about.bigIconSets, 2);
  EXPECT_EQ(about.controls.at(ui::IdOk).text, L"OK");
  // No version resource on this machine: the second line ends with the blank.
  EXPECT_EQ(about.controls.at(IDC_ABOUT_TEXT).text,
            L"Quvari Kavid\r\nVersion \r\nCopyright Quvari");
  EXPECT_EQ(about.controls.at(IDC_ABOUT_TEXT).font, app_->m_hTitleFont);
  // Other system commands are the window system's.
  ui_.Post(Host(), ui::wm::SysCommand, 0xF020 /* SC_MINIMIZE */, 0);
  EXPECT_EQ(ui_.Modals().size(), 1u);
}

TEST_F(Pages, MissingTextsLeaveEmptyCaptionsAndNoAboutItem) {
  PutStrings(sim_, {{"DIAGNOSE", "Diagnose"}});
  kvd::test::ApplyNamed("usb-aio-composite.xml", sim_);
  Start();
  WaitForDeviceList();
  EXPECT_EQ(ui_.State(Host()).text, L"");
  EXPECT_EQ(ui_.MenuItems(app_->m_pSysMenu).size(), 1u);
  EXPECT_EQ(ui_.State(Page(IDD_MAIN)).controls.at(IDC_TITLE).text, L"");
  EXPECT_EQ(List().rows.size(), 1u);
}

TEST_F(Pages, TheCustomerLinkOpensOnClickAndOnEnter) {
  Start();
  WaitForDeviceList();
  ui_.Notify(Page(IDD_MAIN), IDC_LINK_INFO, ui::NmClick);
  ui_.Notify(Page(IDD_MAIN), IDC_LINK_INFO, ui::NmReturn);
  const auto opened = sim_.Shell().Executed();
  ASSERT_EQ(opened.size(), 2u);
  for (const auto& e : opened) {
    EXPECT_EQ(e.verb, L"open");
    EXPECT_EQ(e.file, L"https://example.com/quvari/kavid/customer");
    EXPECT_FALSE(e.parameters.has_value());
    EXPECT_FALSE(e.directory.has_value());
    EXPECT_EQ(e.show, kvd::platform::sw::Show);
  }
}

TEST_F(Pages, ARestartRequestedByTheProgramIsCleanedUp) {
  auto& registry = sim_.Registry();
  registry.PutValue(kvd::platform::kHkeyLocalMachine, L"SOFTWARE\\Wow6432Node\\KVD", L"Restart",
                    kvd::platform::regtype::Sz, kvd::platform::ToUtf16Bytes(L" ok ", true));
  registry.PutValue(kvd::platform::kHkeyLocalMachine,
                    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run", L"KVD_Path",
                    kvd::platform::regtype::Sz,
                    kvd::platform::ToUtf16Bytes(L"C:\\kavid.exe", false));
  Start();
  WaitForDeviceList();
  EXPECT_NE(Log().find(L"KVD Run at startup"), std::wstring::npos);
  EXPECT_FALSE(CUtil(sim_.Ports()).IsRestartPending());
  EXPECT_FALSE(registry
                   .GetValue(kvd::platform::kHkeyLocalMachine,
                             L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run",
                             L"KVD_Path")
                   .has_value());
}

TEST_F(Pages, AHundredDevicesAndALongName) {
  kvd::test::ApplyNamed("usb-aio-composite.xml", sim_);
  Start();
  WaitForDeviceList();
  auto& devices = app_->m_pDiagMgr->MutableDevices();
  const _DeviceDetails model = devices.front();
  devices.clear();
  for (int i = 0; i < 100; ++i) {
    _DeviceDetails device = model;
    device.strFriendlyName = i == 42 ? std::wstring(600, L'x') : L"Device " + std::to_wstring(i);
    devices.push_back(device);
  }
  EXPECT_EQ(ui_.Send(Host(), CKVDParent::kPageRequest, 0, 1), 1);
  EXPECT_EQ(ui_.Send(Host(), CKVDParent::kPageRequest, 0, 0), 1);
  const auto list = List();
  ASSERT_EQ(list.rows.size(), 100u);
  EXPECT_EQ(list.rows[42][0], std::wstring(600, L'x'));
  EXPECT_EQ(list.rows[99][0], L"Device 99");
  ui_.SelectRow(Page(IDD_MAIN), IDC_LIST_DEVICES, 99);
  EXPECT_EQ(app_->m_nDeviceIndex, 99);
}

// The diagnosis page drives a run of the chosen device: a row per check of its family, the
// result and buttons of the check that stopped the run, Skip to the summary.
class Diagnosis : public Pages {
 protected:
  // Starts the program on `scenario`, chooses the first device and presses Diagnose.
  // TWAIN with the composite all-in-one's own source among others: its scan works, and with the
  // Windows scan failed it is the one check of a run that a Skip cannot pass.
  void InstallTwainSources() {
    kvd::test::InstallTwain(sim_);
    for (const char* product : {"Other Scanner TWAIN", "Quvari AIO 3400 Series TWAIN"}) {
      kvd::sim::SimTwain::Source source;
      source.productName = product;
      sim_.Twain().AddSource(source);
    }
  }
  WindowHandle StartDiagnosis(const char* scenario) {
    kvd::test::ApplyNamed(scenario, sim_);
    // A 32-bit Windows: the device-manager check reads the simulated device tree itself (there
    // is no helper to start), and the device's node has no problem.
    sim_.System().SetWow64(false);
    Start();
    WaitForDeviceList();
    ui_.SelectRow(Page(IDD_MAIN), IDC_LIST_DEVICES, 0);
    ui_.Click(Page(IDD_MAIN), IDC_BTN_DIAGNOSE);
    return Page(IDD_DIAGNOSE);
  }
  SimUi::ListState Rows(WindowHandle page) const { return ui_.State(page).lists[1024]; }
  std::wstring Control(WindowHandle page, int id) const {
    const auto state = ui_.State(page);
    auto it = state.controls.find(id);
    return it != state.controls.end() ? it->second.text : std::wstring();
  }
  bool Shown(WindowHandle page, int id) const {
    const auto state = ui_.State(page);
    auto it = state.controls.find(id);
    return it == state.controls.end() || it->second.visible;
  }
  struct ProblemRecord {
    std::vector<int> rows;
    std::unordered_map<int, std::wstring> text;
  };
  // The diagnosis page's problem record, read on its thread.
  ProblemRecord Record() {
    ProblemRecord record;
    ui_.Call([&] {
      auto* host = static_cast<CKVDParent*>(app_->m_pMainWnd);
      record.rows = host->DiagnosePage()->m_arrProblemRows;
      record.text = host->DiagnosePage()->m_mapProblemText;
    });
    return record;
  }
  std::vector<int> ShownActions(WindowHandle page) const {
    std::vector<int> shown;
    for (int id : {1030, 1002, 1011, 1009, 1015, 1005, 1013, 1014})
      if (Shown(page, id) && Enabled(page, id)) shown.push_back(id);
    return shown;
  }
};

TEST_F(Diagnosis, ARunStopsAtEachFailureAndSkipLeadsToTheSummary) {
  PutStrings(sim_, [] {
    auto texts = kTexts;
    texts.push_back({"RUNNING_TEST", "Testing"});
    texts.push_back({"PROBLEM_FOUND", "Problem found on"});
    texts.push_back({"ADD_HELP", "See the help"});
    texts.push_back({"TWAIN_OK", "TWAIN works"});
    return texts;
  }());
  // The device's TWAIN source delivers its image; the other checks fail.
  InstallTwainSources();
  const WindowHandle page = StartDiagnosis("usb-aio-composite.xml");
  ASSERT_NE(page, 0u);
  const std::wstring name = app_->m_pDiagMgr->Devices()[0].strFriendlyName;
  // All-in-one without a scan button: nine rows, no picture yet, the checks' names.
  auto rows = Rows(page);
  ASSERT_EQ(rows.rows.size(), 9u);
  EXPECT_EQ(rows.rows[1][1], app_->m_pDiagMgr->Issue(1)->m_strName);
  EXPECT_EQ(Control(page, 1012), L"Testing " + name);

  DriveUntil([&] { return Enabled(page, 1003); });
  rows = Rows(page);
  EXPECT_EQ(rows.images[0], 0);  // the connection check passed
  EXPECT_EQ(rows.images[1], 0);  // the device's node has no problem
  EXPECT_EQ(rows.images[2], 1);  // the driver check: this driver has no scan-folder setting
  EXPECT_EQ(rows.images[3], ui::kNoImage);
  EXPECT_EQ(Control(page, 1012), L"Problem found on " + name);
  EXPECT_EQ(Control(page, 1041), app_->m_pDiagMgr->Issue(2)->m_strName);
  EXPECT_EQ(ShownActions(page), (std::vector<int>{1030, 1009, 1015}));  // Skip, Uninstall, Update
  for (int id : {1003, 1028, 1006}) EXPECT_TRUE(Enabled(page, id)) << id;
  EXPECT_EQ(ui_.MenuItemFlags(app_->m_pSysMenu, ui::ScClose), ui::MfEnabled);

  // Skip from failure to failure; each adds its row to the problem record.
  for (int skips = 0; skips < 20 && Control(page, 1041) != L"See the help"; ++skips) {
    ui_.Click(page, 1030);
    DriveUntil([&] { return Enabled(page, 1003); });
  }
  EXPECT_TRUE(ui_.WindowsOf(IDD_TWAIN_SOURCE).empty());  // its own source: no question
  EXPECT_EQ(Control(page, 1041), L"See the help");
  EXPECT_EQ(Control(page, 1012), L"Problem found on " + name);
  // The summary's buttons: Help, Restart, software update and navigation.
  EXPECT_EQ(ShownActions(page), (std::vector<int>{1011, 1005, 1013}));
  EXPECT_TRUE(Shown(page, 1040));  // the feedback title: English shows it
  rows = Rows(page);
  // After the TWAIN scan passed, the registry and scan-flow checks' problems are warnings; a
  // monitor that is not installed is one too.
  for (std::size_t row = 2; row < rows.images.size(); ++row)
    EXPECT_EQ(rows.images[row], row == 5 ? 0 : (row >= 6 && row <= 8) ? 2 : 1) << row;
  EXPECT_EQ(app_->m_pDiagMgr->Issue(5)->m_strMessage, L"TWAIN works");
  EXPECT_FALSE(sim_.Twain().LibraryLoaded());
  const std::wstring log = Log();
  EXPECT_NE(log.find(L"Diagnosing the device: " + name), std::wstring::npos);
  EXPECT_EQ(Count(log, L"Clicked Skip."), 6);
  ProblemRecord record = Record();
  EXPECT_EQ(record.rows, (std::vector<int>{2, 3, 4, 6, 7, 8}));
  // The Windows scan check: no WIA device on this machine, and the Windows 7 upgrade problem of
  // the suite (no KLE version registered) explains it.
  EXPECT_EQ(record.text[3], L"3 Error Code: 1048");
}

// No source is the device's by name: the TWAIN check asks on its worker through the program's
// selection dialog, and the chosen source scans.
TEST_F(Diagnosis, TheTwainCheckAsksForTheSource) {
  PutStrings(sim_, [] {
    auto texts = kTexts;
    texts.push_back({"TWAIN_OK", "TWAIN works"});
    texts.push_back({"TWAIN_SELECT_SOURCE", "Select Your Scanner"});
    return texts;
  }());
  kvd::test::InstallTwain(sim_);
  for (const char* product : {"First Scanner TWAIN", "Second Scanner TWAIN"}) {
    kvd::sim::SimTwain::Source source;
    source.productName = product;
    sim_.Twain().AddSource(source);
  }
  const WindowHandle page = StartDiagnosis("usb-aio-composite.xml");
  std::vector<std::wstring> offered;
  std::vector<WindowHandle> answers;
  const auto answered = [&] {
    const auto asked = ui_.WindowsOf(IDD_TWAIN_SOURCE);
    const auto question = asked.empty() ? SimUi::WindowState{} : ui_.State(asked[0]);
    if (question.initialised &&
        std::find(answers.begin(), answers.end(), asked[0]) == answers.end()) {
      answers.push_back(asked[0]);
      for (const auto& row : question.lists.at(IDC_SOURCE_LIST).rows) offered.push_back(row.at(0));
      ui_.SelectRow(asked[0], IDC_SOURCE_LIST, 1);
      ui_.Click(asked[0], IDC_SOURCE_SELECT);
    }
    return Enabled(page, 1003);
  };
  DriveUntil(answered);
  for (int skips = 0; skips < 20 && Rows(page).images[5] == ui::kNoImage; ++skips) {
    ui_.Click(page, 1030);
    DriveUntil(answered);
  }
  EXPECT_EQ(offered, (std::vector<std::wstring>{L"First Scanner TWAIN", L"Second Scanner TWAIN"}));
  EXPECT_EQ(Rows(page).images[5], 0);
  EXPECT_EQ(app_->m_pDiagMgr->Issue(5)->m_strMessage, L"TWAIN works");
  const auto calls = sim_.Twain().Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), L"OPENDS Second Scanner TWAIN"), calls.end());
  // The watchdog, started again after the question, was stopped by the check's last signal.
  EXPECT_FALSE(app_->m_pDiagMgr->m_bNotResponding);
  EXPECT_EQ(app_->m_pDiagMgr->m_hWatchedThread.load(), 0u);
}

TEST_F(Diagnosis, AnUnpluggedDeviceShowsItsLinkAndRetestStartsAfresh) {
  PutStrings(sim_, [] {
    auto texts = kTexts;
    texts.push_back({"NDU_LINK", "https://example.com/quvari/kavid/not-detected"});
    texts.push_back({"QV_LINK", "https://example.com/quvari/kavid/general"});
    texts.push_back({"USB_NO_CONNECTION", "Connect it. &lt;a&gt;How?&lt;/a&gt; Then retest."});
    return texts;
  }());
  const WindowHandle page = StartDiagnosis("usb-aio-unplugged.xml");
  DriveUntil([&] { return Enabled(page, 1003); });
  CKVDIssue* connection = app_->m_pDiagMgr->Issue(0);
  EXPECT_EQ(connection->m_nStatus, issue::kStatusFailed);
  EXPECT_EQ(connection->m_nErrorCode, 1000);
  EXPECT_EQ(Rows(page).images[0], 1);
  // Mask 88: navigation, Help and Restart; Restart right-most, then Help.
  EXPECT_EQ(ShownActions(page), (std::vector<int>{1011, 1005}));
  // The link of the connection check's text opens the not-detected page.
  const auto pieces = ui_.State(page).controls.at(1041).rich;
  ASSERT_FALSE(pieces.empty());
  EXPECT_TRUE(std::any_of(pieces.begin(), pieces.end(), [](const auto& p) { return p.link; }));
  EXPECT_EQ(ui_.Notify(page, 1041, ui::EnLink, 0x0200 /* WM_MOUSEMOVE */), 0);
  ui_.Notify(page, 1041, ui::EnLink, ui::WmLButtonDown);
  const auto opened = sim_.Shell().Executed();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].file, L"https://example.com/quvari/kavid/not-detected");
  // Rows cannot be chosen; their pictures can change.
  EXPECT_EQ(ui_.Notify(page, 1024, ui::LvnItemChanging, 0x0008 /* LVIF_STATE */), 1);
  EXPECT_EQ(ui_.Notify(page, 1024, ui::LvnItemChanging, ui::LvifImage), 0);

  EXPECT_EQ(Record().rows, std::vector<int>{0});
  EXPECT_EQ(Record().text[0], L"0 Error Code: 1000");
  ui_.Click(page, 1028);  // Retest
  EXPECT_EQ(Control(page, 1041), L" ");
  EXPECT_FALSE(Enabled(page, 1003));
  DriveUntil([&] { return Enabled(page, 1003); });
  EXPECT_EQ(Count(Log(), L"Clicked Retest."), 1);
  // A fresh record: only the retest's own failure.
  EXPECT_EQ(Record().rows, std::vector<int>{0});
}

TEST_F(Diagnosis, CloseIsRefusedWhileACheckRuns) {
  kvd::test::ApplyNamed("usb-aio-composite.xml", sim_);
  Start();
  WaitForDeviceList();
  // The connection check lists the device nodes and gets no answer.
  sim_.InjectHang("GetClassDevs", 1);
  ui_.SelectRow(Page(IDD_MAIN), IDC_LIST_DEVICES, 0);
  ui_.Click(Page(IDD_MAIN), IDC_BTN_DIAGNOSE);
  const WindowHandle page = Page(IDD_DIAGNOSE);
  DriveUntil([&] { return sim_.HungCalls() == 1; });
  const WindowHandle host = Host();
  ui_.PressEscape(host);
  ui_.Post(host, ui::wm::SysCommand, ui::ScClose, 0);
  EXPECT_TRUE(ui_.Exists(host));
  EXPECT_EQ(ui_.MenuItemFlags(app_->m_pSysMenu, ui::ScClose), ui::MfDisabled | ui::MfGrayed);
  sim_.ReleaseHangs();
  DriveUntil([&] { return Enabled(page, 1006); });
  ui_.Click(page, 1006);
  Join();
  EXPECT_EQ(app_->m_nHostResult, ui::IdCancel);
  EXPECT_NE(Log().find(L"Clicked Close from Diagnose dialog."), std::wstring::npos);
}

// A check that fails once with a repair on offer, then passes; its repair works or not.
class RepairableCheck final : public CKVDIssue {
 public:
  explicit RepairableCheck(bool repairs,
                           int buttonsAfterFailedRepair = button::Skip | button::Navigation)
      : repairs_(repairs), failedButtons_(buttonsAfterFailedRepair) {
    m_strName = L"Repairable";
  }
  int Diagnose(const _DeviceDetails&) override {
    m_nStatus = runs_++ == 0 ? issue::kStatusFailed : issue::kStatusPassed;
    m_nButtons = m_nStatus == issue::kStatusFailed ? button::Fix | button::Skip : 0;
    m_strMessage = m_nStatus == issue::kStatusFailed ? L"broken" : L"fine";
    m_nErrorCode = m_nStatus == issue::kStatusFailed ? 1234 : 0;
    return m_nStatus == issue::kStatusFailed ? 0 : issue::kPassed;
  }
  int Fix(const _DeviceDetails&, int) override {
    m_strMessage = repairs_ ? L"repaired" : L"still broken";
    m_nButtons = repairs_ ? 0 : failedButtons_;
    return repairs_ ? issue::kFixed : issue::kNotFixed;
  }
  void SetHandle(kvd::platform::WindowHandle window) override { m_hNotifyWnd = window; }

 private:
  bool repairs_;
  int failedButtons_;
  int runs_ = 0;
};

// Fix through the page: the problem record of the row gets the outcome, the progress bar goes,
// and the run goes on after a repair or stays with the check's new buttons.
class Fixes : public Diagnosis {
 protected:
  void Run(bool repairs, const wchar_t* record,
           int buttonsAfterFailedRepair = button::Skip | button::Navigation) {
    checks_ = kvd::test::ScriptedChecks(
        [repairs, buttonsAfterFailedRepair](int index) -> std::unique_ptr<CKVDIssue> {
          return std::make_unique<RepairableCheck>(index == 0 ? repairs : true,
                                                   buttonsAfterFailedRepair);
        });
    const WindowHandle page = StartDiagnosis("usb-aio-composite.xml");
    DriveUntil([&] { return Enabled(page, 1002); });  // Fix offered
    ui_.Click(page, 1002);
    // The bar runs while the repair works (a quick repair may be done already); its end hides it.
    DriveUntil([&] { return !Shown(page, 1008); });
    if (repairs) {
      // The run went on: the next check failed too and joined the problem record.
      DriveUntil([&] { return Record().rows.size() >= 2; });
    } else {
      EXPECT_EQ(Control(page, 1041), L"still broken");
      EXPECT_TRUE(Enabled(page, 1003));
    }
    EXPECT_EQ(Record().text[0], record);
    EXPECT_FALSE(Shown(page, 1008));
  }
};

TEST_F(Fixes, ARepairLetsTheRunGoOn) { Run(true, L"0 Error Code: 1234@ Fixed."); }

TEST_F(Fixes, AFailedRepairStaysWithTheChecksButtons) {
  Run(false, L"0 Error Code: 1234@ Not Fixed.");
}

// A failed repair that offers nothing still leaves the page closable.
TEST_F(Fixes, AFailedRepairThatOffersNothingLeavesTheNavigation) {
  Run(false, L"0 Error Code: 1234@ Not Fixed.", 0);
  const WindowHandle page = Page(IDD_DIAGNOSE);
  EXPECT_TRUE(Enabled(page, 1006));
  EXPECT_FALSE(app_->m_bBusy);
  ui_.Click(page, 1006);
  Join();
  EXPECT_EQ(app_->m_nHostResult, ui::IdCancel);
}

// The summary's actions: the software-update client where the registry says, else its
// message; the patch links; a restart only on Yes.
TEST_F(Diagnosis, TheSummaryActions) {
  PutStrings(sim_, [] {
    auto texts = kTexts;
    texts.push_back({"QV_UPDATE_MSG", "Get the update"});
    texts.push_back({"PATCH_LINK", "https://example.com/quvari/kavid/patch"});
    texts.push_back({"QV_SCAN_DEST_PATCH_LINK", "https://example.com/quvari/kavid/dest"});
    texts.push_back({"RESTART_MSG", "Restart now?"});
    return texts;
  }());
  InstallTwainSources();
  const WindowHandle page = StartDiagnosis("usb-aio-composite.xml");
  DriveUntil([&] { return Enabled(page, 1003); });
  for (int skips = 0; skips < 20 && !Enabled(page, 1013); ++skips) {
    ui_.Click(page, 1030);
    DriveUntil([&] { return Enabled(page, 1003); });
  }
  ASSERT_TRUE(Enabled(page, 1013));
  const std::wstring updateKey = L"SOFTWARE\\Wow6432Node\\Quvari\\QV Software Update";
  const std::wstring updater = L"C:\\Quvari\\Update\\QVUpdater.exe";
  struct Case {
    const char* name;
    bool value;
    bool file;
    bool launched;
  };
  for (const Case& c : {Case{"registered and present", true, true, true},
                        Case{"registered, file missing", true, false, false},
                        Case{"not registered", false, true, false}}) {
    SCOPED_TRACE(c.name);
    if (sim_.Registry().KeyExists(kvd::platform::kHkeyLocalMachine, updateKey))
      sim_.Registry().RemoveKey(kvd::platform::kHkeyLocalMachine, updateKey);
    if (sim_.Files().Exists(updater)) sim_.Files().Remove(updater);
    if (c.value) {
      sim_.Registry().PutValue(kvd::platform::kHkeyLocalMachine, updateKey, L"Run",
                               kvd::platform::regtype::Sz,
                               kvd::platform::ToUtf16Bytes(L"C:\\Quvari\\Update\\\\", true));
    }
    if (c.file) sim_.Files().PutFile(updater, {'M', 'Z'});
    const auto opened = sim_.Shell().Executed().size();
    const auto boxes = sim_.Shell().Boxes().size();
    ui_.Click(page, 1013);
    EXPECT_EQ(sim_.Shell().Executed().size(), opened + (c.launched ? 1 : 0));
    if (c.launched) {
      EXPECT_EQ(sim_.Shell().Executed().back().file, updater);
      EXPECT_EQ(sim_.Shell().Executed().back().owner, page);
    }
    EXPECT_EQ(sim_.Shell().Boxes().size(), boxes + (c.launched ? 0 : 1));
    if (!c.launched) {
      EXPECT_EQ(sim_.Shell().Boxes().back().text, L"Get the update");
    }
    EXPECT_EQ(ui_.WaitCursorDepth(), 0);
  }

  // Patch: the destination patch once after the hub check asked for it, then the general one.
  ui_.Call([&] {
    app_->m_bDestPatchNeeded = true;
    app_->m_pDiagMgr
        ->Issue(app_->m_pDiagMgr->m_nCurrentIssue > 12 ? 12
                                                       : app_->m_pDiagMgr->m_nCurrentIssue.load())
        ->m_nButtons |= button::Patch;
    static_cast<CKVDParent*>(app_->m_pMainWnd)->DiagnosePage()->UpdateButtons(0);
  });
  ui_.Click(page, 1014);
  ui_.Click(page, 1014);
  const auto executed = sim_.Shell().Executed();
  ASSERT_GE(executed.size(), 2u);
  EXPECT_EQ(executed[executed.size() - 2].file, L"https://example.com/quvari/kavid/dest");
  EXPECT_EQ(executed.back().file, L"https://example.com/quvari/kavid/patch");

  // Restart: No leaves the machine alone, Yes marks the resume and asks for the reboot.
  sim_.Shell().SetMessageBoxAnswer(kvd::platform::mb::IdNo);
  ui_.Click(page, 1011);
  EXPECT_TRUE(sim_.Security().Shutdowns().empty());
  EXPECT_EQ(sim_.Shell().Boxes().back().text, L"Restart now?");
  sim_.Shell().SetMessageBoxAnswer(kvd::platform::mb::IdYes);
  ui_.Click(page, 1011);
  EXPECT_EQ(sim_.Security().Shutdowns().size(), 1u);
  EXPECT_TRUE(CUtil(sim_.Ports()).IsRestartPending());
}

// Uninstall on an Ostrel device removes its Windows Installer product after Yes; No does
// nothing; no product tells the user it failed.
TEST_F(Diagnosis, UninstallOfAnOstrelDevice) {
  PutStrings(sim_, [] {
    auto texts = kTexts;
    texts.push_back({"UNINSTALL_MSG", "Remove the software?"});
    texts.push_back({"UNINSTALL_FAIL_MSG", "It could not be removed"});
    return texts;
  }());
  kvd::sim::SimInstaller::Product product;
  product.code = L"{11111111-1111-1111-1111-111111111111}";
  product.properties[L"ModelName"] = L"QX-800";
  sim_.Installer().AddProduct(product);
  const WindowHandle page = StartDiagnosis("network-ostrel.xml");
  DriveUntil([&] { return Enabled(page, 1003); });
  ui_.Call([&] {
    auto* manager = app_->m_pDiagMgr.get();
    manager->Issue(std::min(manager->m_nCurrentIssue.load(), 12))->m_nButtons |= button::Uninstall;
    static_cast<CKVDParent*>(app_->m_pMainWnd)->DiagnosePage()->UpdateButtons(0);
  });
  ASSERT_TRUE(Enabled(page, 1009));
  sim_.Shell().SetMessageBoxAnswer(kvd::platform::mb::IdNo);
  ui_.Click(page, 1009);
  EXPECT_TRUE(sim_.Installer().Configured().empty());
  sim_.Shell().SetMessageBoxAnswer(kvd::platform::mb::IdYes);
  const auto boxes = sim_.Shell().Boxes().size();
  ui_.Click(page, 1009);
  ASSERT_EQ(sim_.Installer().Configured().size(), 1u);
  EXPECT_EQ(sim_.Shell().Boxes().size(), boxes + 1);  // the question only
  EXPECT_EQ(ui_.WaitCursorDepth(), 0);
  // Now nothing is left to remove.
  ui_.Click(page, 1009);
  EXPECT_EQ(sim_.Shell().Boxes().back().text, L"It could not be removed");
}

// The driver refresh the checks' repairs and the help page call: the instruction dialog over the
// page first, on the caller's thread (here a repair thread), then the device's property sheet.
TEST_F(Diagnosis, TheDriverRefreshShowsTheInstructionsOverThePage) {
  const WindowHandle page = StartDiagnosis("usb-aio-composite.xml");
  DriveUntil([&] { return Enabled(page, 1003); });
  sim_.Modules().AddLibrary(L"C:\\Windows\\system32\\devmgr.dll", {"DeviceProperties_RunDLLW"});
  const std::wstring key =
      L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003";
  bool instructionsFirst = false;
  sim_.Modules().SetPropertySheet([&](const std::wstring&) {
    instructionsFirst = ui_.WindowsOf(IDD_INSTRUCTION).empty();
    sim_.Registry().PutString(kvd::platform::kHkeyLocalMachine, key, L"DriverDesc", L"again");
  });
  DeviceDetails device = app_->m_pDiagMgr->Devices()[0];
  device.strDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003";
  int errorCode = 0;
  bool refreshed = false;
  std::thread repair([&] { refreshed = app_->m_pDiagMgr->RefreshDrivers(device, errorCode); });
  WaitFor([&] {
    const auto shown = ui_.WindowsOf(IDD_INSTRUCTION);
    return !shown.empty() && ui_.State(shown[0]).initialised;
  });
  const WindowHandle instructions = Page(IDD_INSTRUCTION);
  EXPECT_TRUE(ui_.State(instructions).modal);
  EXPECT_NE(ui_.State(instructions).owner, 0u);
  EXPECT_EQ(ui_.State(instructions).owner, app_->m_pDiagMgr->m_hWnd.load());
  EXPECT_TRUE(sim_.Modules().PropertySheets().empty());
  ui_.Click(instructions, ui::IdCancel);
  repair.join();
  EXPECT_TRUE(instructionsFirst);
  EXPECT_TRUE(refreshed);
  EXPECT_EQ(errorCode, 0);
  ASSERT_EQ(sim_.Modules().PropertySheets().size(), 1u);
  EXPECT_EQ(sim_.Modules().PropertySheets()[0].commandLine,
            L"/MachineName \"\" /DeviceID " + device.strInstanceId);
}

TEST_F(Diagnosis, TheActionButtonsStandRightAlignedUnderTheFrame) {
  ui_.SetControlRect(IDD_DIAGNOSE, 1025, {300, 120, 700, 360});
  for (int id : {1030, 1002, 1011, 1009, 1015, 1005, 1013, 1014})
    ui_.SetControlRect(IDD_DIAGNOSE, id, {0, 0, 90, 28});
  const WindowHandle page = StartDiagnosis("usb-aio-unplugged.xml");
  DriveUntil([&] { return Enabled(page, 1003); });
  const auto state = ui_.State(page);
  const ui::Rect restart = state.controls.at(1011).rect;
  const ui::Rect help = state.controls.at(1005).rect;
  EXPECT_EQ(restart.right, 700);
  EXPECT_EQ(restart.top, 365);
  EXPECT_EQ(help.right, restart.left - 2);
  EXPECT_EQ(help.top, 365);
  EXPECT_EQ(help.right - help.left, 90);
}

TEST_F(Diagnosis, TheResultTextAndItsLink) {
  const WindowHandle page = StartDiagnosis("usb-aio-composite.xml");
  DriveUntil([&] { return Enabled(page, 1003); });
  using Piece = SimUi::RichPiece;
  const std::wstring tabs(25, L'\t');
  struct Case {
    const char* name;
    std::wstring message;
    std::vector<Piece> shown;
  };
  const Case cases[] = {
      {"plain text", L"No link here", {{L"No link here", false}}},
      {"a link without its end", L"see <a>this", {}},
      {"text around a link",
       L"word <a>second</a> third",
       {{L"word ", false}, {L"second", true}, {L"third" + tabs, false}}},
      {"nothing after the link",
       L"go <a>there</a>  ",
       {{L"go ", false}, {L"there", true}, {L"." + tabs + tabs, false}}},
      {"the link first, two links",
       L"<a>one</a> and <a>two</a>",
       {{L"one", true}, {L"and <a>two</a>" + tabs, false}}},
  };
  auto* manager = app_->m_pDiagMgr.get();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui_.Call([&] {
      manager->Issue(0)->m_strMessage = c.message;
      manager->Issue(0)->m_nStatus = issue::kStatusFailed;
    });
    ui_.Send(page, msg::Result, 0, 0);
    EXPECT_EQ(ui_.State(page).controls.at(1041).rich, c.shown);
  }
}

// The small dialogs, each run on its own as its caller runs it.
class SmallDialogs : public Pages {
 protected:
  SmallDialogs() { app_ = std::make_unique<CKavidApp>(sim_.Ports()); }
  void SetUp() override {
    app_->SetUi(&ui_);
    GlobalLag.Bind(sim_.Ports());
    GlobalLag.m_LangID = 1033;
    ASSERT_TRUE(GlobalLag.LoadStrings());
  }
};

TEST_F(SmallDialogs, TheInstructionTextFollowsTheSystem) {
  struct Case {
    const char* name;
    std::uint32_t major;
    std::uint32_t minor;
    const wchar_t* text;
  };
  const Case cases[] = {
      {"Windows XP", 5, 1, L"intro\r\n\r\none\r\nfive"},
      {"Windows Vista", 6, 0, L"intro\r\n\r\none\r\ntwo\r\nthree\r\nfour"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto version = sim_.System().Version();
    version.majorVersion = c.major;
    version.minorVersion = c.minor;
    sim_.System().SetVersion(version);
    CInstructionDlg dialog(*app_);
    int result = 0;
    std::thread modal([&] { result = ui_.DoModal(dialog, 0); });
    WaitFor([&] {
      const auto shown = ui_.WindowsOf(IDD_INSTRUCTION);
      return !shown.empty() && ui_.State(shown[0]).initialised;
    });
    const auto state = ui_.State(Page(IDD_INSTRUCTION));
    EXPECT_EQ(state.text, L"Quvari Kavid");
    EXPECT_EQ(state.controls.at(IDC_INSTRUCTION_TEXT).text, c.text);
    EXPECT_EQ(state.controls.at(IDC_TITLE).text, L"Quvari Kavid");
    EXPECT_EQ(state.controls.at(ui::IdCancel).text, L"Close");
    EXPECT_EQ(dialog.BackgroundKind(), ui::Background::Own);
    ui_.Click(Page(IDD_INSTRUCTION), ui::IdCancel);
    modal.join();
    EXPECT_EQ(result, ui::IdCancel);
  }
  EXPECT_EQ(ui_.LivePictures(), 0);
}

TEST_F(SmallDialogs, AnInstructionPictureThatDoesNotDecodeLeavesThePlainBackground) {
  ui_.SetPictureFails(IDP_INSTRUCTION);
  CInstructionDlg dialog(*app_);
  std::thread modal([&] { ui_.DoModal(dialog, 0); });
  WaitFor([&] {
    const auto shown = ui_.WindowsOf(IDD_INSTRUCTION);
    return !shown.empty() && ui_.State(shown[0]).initialised;
  });
  EXPECT_EQ(dialog.BackgroundKind(), ui::Background::Default);
  EXPECT_EQ(dialog.Picture(), 0u);
  ui_.Click(Page(IDD_INSTRUCTION), ui::IdCancel);
  modal.join();
}

// The TWAIN check's choice of a data source: the names in order, the first chosen, Select with a
// row and without one, and Cancel.
TEST_F(SmallDialogs, TheTwainSourceSelection) {
  struct Case {
    const char* name;
    int row;  // chosen before the click; -2 leaves the first chosen, -1 chooses none
    int button;
    int result;
    std::optional<std::size_t> selected;
  };
  const Case cases[] = {
      {"the first, as offered", -2, IDC_SOURCE_SELECT, ui::IdOk, 0},
      {"another one", 1, IDC_SOURCE_SELECT, ui::IdOk, 1},
      {"none chosen: as Cancel", -1, IDC_SOURCE_SELECT, ui::IdCancel, std::nullopt},
      {"Cancel", 1, ui::IdCancel, ui::IdCancel, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTwainSourceSelectionDialog dialog(ui_, {L"First TWAIN", L"Second TWAIN"});
    int result = 0;
    std::thread modal([&] { result = ui_.DoModal(dialog, 0); });
    WaitFor([&] {
      const auto shown = ui_.WindowsOf(IDD_TWAIN_SOURCE);
      return !shown.empty() && ui_.State(shown[0]).initialised;
    });
    const WindowHandle window = Page(IDD_TWAIN_SOURCE);
    const auto state = ui_.State(window);
    EXPECT_EQ(state.text, L"Select Your Scanner");
    EXPECT_EQ(state.lists.at(IDC_SOURCE_LIST).rows,
              (std::vector<std::vector<std::wstring>>{{L"First TWAIN"}, {L"Second TWAIN"}}));
    EXPECT_EQ(state.lists.at(IDC_SOURCE_LIST).selectionMark, 0);
    EXPECT_EQ(state.raised, 1);
    if (c.row != -2) ui_.SelectRow(window, IDC_SOURCE_LIST, c.row);
    ui_.Click(window, c.button);
    modal.join();
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(dialog.Selected(), c.selected);
  }
}

// The WIA transfer's progress window: modal on a thread of its own, its owner told its handle,
// no taskbar button, the percentage shown, and ended by its object (or by message 1035).
TEST_F(SmallDialogs, TheScanProgressWindowRunsOnItsOwnThread) {
  std::vector<std::pair<std::uint32_t, std::uintptr_t>> told;
  std::mutex toldLock;
  const WindowHandle owner = sim_.Messages().CreateWindow(
      [&](std::uint32_t message, std::uintptr_t wParam, std::intptr_t) -> std::intptr_t {
        std::lock_guard lock(toldLock);
        told.emplace_back(message, wParam);
        return 0;
      });
  for (const bool byOwner : {false, true}) {
    SCOPED_TRACE(byOwner ? "ended by its owner" : "ended by its object");
    CWiaProgress progress(ui_, sim_.Ports(), owner);
    const WindowHandle window = progress.Show();
    ASSERT_NE(window, 0u);
    const auto state = ui_.State(window);
    EXPECT_TRUE(state.modal);
    EXPECT_EQ(state.owner, owner);
    EXPECT_EQ(state.text, L"Scanning");
    EXPECT_EQ(state.controls.at(IDC_PROGRESS).progressHigh, 100);
    // (the button goes once the window has said it is ready)
    WaitFor([&] {
      const auto removed = ui_.WithoutTaskbarButton();
      return !removed.empty() && removed.back() == window;
    });
    {
      std::lock_guard lock(toldLock);
      ASSERT_FALSE(told.empty());
      EXPECT_EQ(told.back(),
                (std::pair<std::uint32_t, std::uintptr_t>{msg::ScanProgressShown, window}));
    }
    progress.SetPosition(40);
    EXPECT_EQ(ui_.State(window).controls.at(IDC_PROGRESS).progressPos, 40);
    // Neither Escape nor a close request ends it.
    ui_.PressEscape(window);
    ui_.Post(window, 0x0010 /* WM_CLOSE */, 0, 0);
    sim_.Messages().RunUntilIdle();
    EXPECT_TRUE(ui_.Exists(window));
    if (byOwner) {
      sim_.Ports().messages.PostMessage(window, msg::EndScanProgress, 0, 0);
      WaitFor([&] { return !ui_.Exists(window); });
      EXPECT_EQ(ui_.Modals().back().resource, IDD_PROGRESS);
    }
    progress.Close();
    EXPECT_FALSE(ui_.Exists(window));
  }
}

TEST_F(SmallDialogs, TheProgressDialogClosesOnlyWhenItsOwnerDecides) {
  CProgressDialog progress(*app_);
  const WindowHandle window = progress.Show();
  ASSERT_NE(window, 0u);
  auto state = ui_.State(window);
  EXPECT_TRUE(state.visible);
  EXPECT_EQ(state.text, L"Scanning");
  EXPECT_EQ(state.controls.at(IDC_PROGRESS).progressLow, 0);
  EXPECT_EQ(state.controls.at(IDC_PROGRESS).progressHigh, 100);
  EXPECT_EQ(state.controls.at(IDC_PROGRESS).progressPos, 0);

  ui_.Post(window, 0x0010 /* WM_CLOSE, Alt+F4 */, 0, 0);
  ui_.PressEscape(window);
  EXPECT_TRUE(ui_.State(window).visible);
  progress.SetPosition(40);
  EXPECT_EQ(ui_.State(window).controls.at(IDC_PROGRESS).progressPos, 40);
  progress.Close();
  EXPECT_FALSE(ui_.Exists(window));
}

}  // namespace
