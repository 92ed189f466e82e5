// The TWAIN check against a simulated source manager: finding the device's data source, the
// selection among candidates, the scan by native transfer, the data-source files, and what each
// failure shows with the Windows scan check's result in mind.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "issues/KVDTWAINDetectionIssue.h"
#include "platform/sim/SimMachine.h"
#include "system/Helper.h"
#include "tests/support/ScenarioSim.h"
#include "tests/support/SimLog.h"
#include "tests/support/SimStrings.h"

namespace {

namespace platform = kvd::platform;
namespace tw = platform::twain;
using kvd::sim::SimTwain;

constexpr const wchar_t* kImageNode = L"USB\\VID_2F8D&PID_0105&MI_00\\6&1D2E3F4A&0&0000";
// The texts of the outcomes: the family and WIA variants are their own keys.
std::vector<std::pair<std::string, std::string>> Texts() {
  std::vector<std::pair<std::string, std::string>> texts = {{"TWAIN", "TWAIN"},
                                                            {"TWAIN_OK", "ok"},
                                                            {"USER_CANCELLED", "cancelled"},
                                                            {"USB_NO_CONNECTION", "no usb"},
                                                            {"NETWORK_NO_CONNECTION", "no net"},
                                                            {"TWAIN_WIN7_UPGRADE_ISSUE", "win7"}};
  for (const char* stem :
       {"TWAIN_DEVICE_NOT_FOUND", "TWAIN_DEVICE_BUSY", "TWAIN_DRIVER_CORRUPTED", "TWAIN_FAIL"}) {
    for (const char* wia : {"_WIA_OK", "_WIA_FAIL"}) {
      for (const char* family : {"", "_OSTREL"}) {
        const std::string key = std::string(stem) + wia + family;
        texts.push_back({key, key});
      }
    }
  }
  return texts;
}

class TwainIssue : public ::testing::Test {
 protected:
  void SetUp() override {
    kvd::test::ApplyNamed("usb-aio-composite.xml", sim_);
    ASSERT_TRUE(kvd::test::LoadTestStrings(sim_, Texts()));
    g_bWin7 = false;
    g_hListenEvent = sim_.Ports().sync.CreateEvent(false, false, L"Listen_Event");
    device_.strInstanceId = kImageNode;
    device_.strFriendlyName = L"Quvari AIO 3400 Series";
    device_.strDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003";
    kvd::test::InstallTwain(sim_);
    services_.wiaPassed = [this] { return wiaPassed_; };
    services_.watchAgain = [this] { ++watchedAgain_; };
    services_.chooseSource = [this](const std::vector<std::wstring>& names,
                                    platform::WindowHandle) -> std::optional<std::size_t> {
      offered_ = names;
      return choice_;
    };
    log_.Take();
  }
  void TearDown() override {
    sim_.Ports().sync.CloseHandle(g_hListenEvent.exchange(0));
    g_bWin7 = false;
  }

  SimTwain::Source Named(const std::string& product) {
    SimTwain::Source source;
    source.productName = product;
    return source;
  }
  int Run() {
    check_ = std::make_unique<CKVDTWAINDetectionIssue>(sim_.Ports(), services_);
    return check_->Diagnose(device_);
  }
  std::vector<std::wstring> Opened() {
    std::vector<std::wstring> opened;
    for (const auto& call : sim_.Twain().Calls()) {
      if (call.rfind(L"OPENDS ", 0) == 0) opened.push_back(call.substr(7));
    }
    return opened;
  }
  // Whatever way the check ended, nothing of TWAIN is left open.
  void ExpectAllClosed() {
    EXPECT_FALSE(sim_.Twain().SourceOpen());
    EXPECT_FALSE(sim_.Twain().DsmOpen());
    EXPECT_FALSE(sim_.Twain().LibraryLoaded());
    EXPECT_EQ(sim_.Twain().LiveWindows(), 0u);
    EXPECT_EQ(sim_.Twain().LiveImages(), 0u);
    EXPECT_EQ(sim_.Ports().sync.WaitForSingleObject(g_hListenEvent, 0), 0u);  // signalled
  }

  kvd::sim::SimMachine sim_;
  kvd::test::SimLog log_{sim_};
  DeviceDetails device_;
  CKVDTWAINDetectionIssue::Services services_;
  std::unique_ptr<CKVDTWAINDetectionIssue> check_;
  bool wiaPassed_ = false;
  int watchedAgain_ = 0;
  std::optional<std::size_t> choice_;
  std::vector<std::wstring> offered_;
};

TEST_F(TwainIssue, AScanThroughTheDevicesSource) {
  sim_.Twain().AddSource(Named("Other Scanner TWAIN"));
  sim_.Twain().AddSource(Named("Quvari AIO 3400 Series TWAIN"));
  EXPECT_EQ(Run(), 107);
  EXPECT_EQ(check_->m_nStatus, 1);
  EXPECT_EQ(check_->m_strMessage, L"ok");
  EXPECT_EQ(check_->m_strName, L"TWAIN");
  const std::vector<std::wstring> expected = {
      L"Window",
      std::wstring(L"LoadLibrary ") + kvd::test::kTwainLibrary,
      L"OPENDSM",
      L"GETFIRST",
      L"GETNEXT",
      L"GETNEXT",
      L"OPENDS Quvari AIO 3400 Series TWAIN",
      L"ZOrder bottom",
      L"ENABLEDS 0 0",
      L"PROCESSEVENT",
      L"Dispatch",  // the program's own message
      L"PROCESSEVENT",
      L"IMAGEINFO",
      L"NATIVEXFER",
      L"ENDXFER",
      L"ZOrder top",
      L"DISABLEDS 1 0",
      L"CLOSEDS",
      L"CLOSEDSM",
      L"FreeLibrary",
      L"DestroyWindow",
  };
  EXPECT_EQ(sim_.Twain().Calls(), expected);
  const platform::TwIdentity app = sim_.Twain().OpenedWith();
  EXPECT_EQ(app.productName, "Kavid");
  EXPECT_EQ(app.manufacturer, "Quvari");
  EXPECT_EQ(app.productFamily, "Quvari");
  EXPECT_EQ(app.info, "2.0");
  EXPECT_EQ(app.language, tw::TWLG_ENGLISH_USA);
  EXPECT_EQ(app.country, tw::TWCY_INDIA);
  EXPECT_EQ(app.protocolMajor, 2);
  EXPECT_EQ(app.supportedGroups, 3u);
  EXPECT_EQ(sim_.Clock().Sleeps(), (std::vector<std::uint32_t>{5000, 3000, 3000}));
  EXPECT_TRUE(offered_.empty());
  const auto records = log_.Take();
  EXPECT_TRUE(kvd::test::SimLog::Contains(records, L"I0", L"Twain Scan OK"));
  EXPECT_TRUE(kvd::test::SimLog::Contains(records, L"DB", L"call InitializeTwain "));
  ExpectAllClosed();
}

// Which source is the device's: "twain" in the product name, cut before it, both names in lower
// case and trimmed, one containing the other.
TEST_F(TwainIssue, FindingTheDevicesSource) {
  struct Case {
    const char* name;
    std::vector<std::string> products;
    bool ostrel;
    bool lumeq;
    const wchar_t* twainDs;  // the driver's "TwainDS", null for none
    std::vector<std::wstring> opened;
    std::vector<std::wstring> offered;
  };
  const Case cases[] = {
      {"any case",
       {"QUVARI AIO 3400 SERIES twain"},
       false,
       false,
       nullptr,
       {L"QUVARI AIO 3400 SERIES twain"},
       {}},
      {"no twain in the name: never a candidate",
       {"Quvari AIO 3400 Series", "Other TWAIN"},
       false,
       false,
       nullptr,
       {L"Other TWAIN"},
       {L"Other TWAIN"}},
      {"an Ostrel device by its driver's source name",
       {"First TWAIN", "QV Ostrel O2 TWAIN"},
       true,
       false,
       L"QV Ostrel O2",
       {L"QV Ostrel O2 TWAIN"},
       {}},
      {"an Ostrel device without one: the user chooses, no name matches every source",
       {"First TWAIN", "Second TWAIN"},
       true,
       false,
       nullptr,
       {L"First TWAIN"},
       {L"First TWAIN", L"Second TWAIN"}},
      {"two sources of the same name: the first, once",
       {"Quvari AIO 3400 Series TWAIN", "Quvari AIO 3400 Series TWAIN"},
       false,
       false,
       nullptr,
       {L"Quvari AIO 3400 Series TWAIN"},
       {}},
      {"a source named only by its letters is never the device's",
       {"  TWAIN", "Quvari AIO 3400 Series TWAIN"},
       false,
       false,
       nullptr,
       {L"Quvari AIO 3400 Series TWAIN"},
       {}},
      {"a Lumeq device's name loses its trailing twain letters",
       {"QV Lumeq L5 TWAIN"},
       false,
       true,
       L"QV Lumeq L5 Twain",
       {L"QV Lumeq L5 TWAIN"},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kvd::sim::SimMachine sim;
    kvd::test::InstallTwain(sim);
    for (const auto& product : c.products) sim.Twain().AddSource(Named(product));
    DeviceDetails device = device_;
    device.bOstrel = c.ostrel;
    device.bLumeq = c.lumeq;
    if (c.twainDs != nullptr) {
      sim.Registry().PutString(
          platform::kHkeyLocalMachine,
          L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}"
          L"\\0003\\Devicedata",
          L"TwainDS", c.twainDs);
    }
    offered_.clear();
    choice_ = 0;
    CKVDTWAINDetectionIssue check(sim.Ports(), services_);
    static_cast<void>(check.Diagnose(device));
    std::vector<std::wstring> opened;
    for (const auto& call : sim.Twain().Calls()) {
      if (call.rfind(L"OPENDS ", 0) == 0) opened.push_back(call.substr(7));
    }
    EXPECT_EQ(opened, c.opened);
    EXPECT_EQ(offered_, c.offered);
  }
}

TEST_F(TwainIssue, TheUserChoosesAmongTheCandidates) {
  sim_.Twain().AddSource(Named("First TWAIN"));
  sim_.Twain().AddSource(Named("Second TWAIN"));
  choice_ = std::nullopt;  // Cancel
  EXPECT_EQ(Run(), 100012);
  EXPECT_EQ(offered_, (std::vector<std::wstring>{L"First TWAIN", L"Second TWAIN"}));
  EXPECT_EQ(check_->m_strMessage, L"cancelled");
  EXPECT_EQ(check_->m_nStatus, 3);
  EXPECT_EQ(check_->m_nButtons, 0x42);
  EXPECT_EQ(watchedAgain_, 0);
  EXPECT_TRUE(Opened().empty());
  ExpectAllClosed();

  choice_ = 1;
  EXPECT_EQ(Run(), 107);
  EXPECT_EQ(Opened(), std::vector<std::wstring>{L"Second TWAIN"});
  EXPECT_EQ(watchedAgain_, 1);  // the watchdog watches the scan again
}

// One failing step each: the result, its error code, and what the row shows without and with a
// passed Windows scan check.
TEST_F(TwainIssue, EachFailure) {
  struct Case {
    const char* name;
    std::function<void(kvd::sim::SimMachine&, SimTwain::Source&)> arrange;
    int result;
    int errorCode;
    const wchar_t* failText;
    int failButtons;
    const wchar_t* okText;
    int okButtons;
  };
  const Case cases[] = {
      {"no library",
       [](kvd::sim::SimMachine& sim, SimTwain::Source&) {
         sim.Files().Remove(kvd::test::kTwainLibrary);
       },
       100000, 1058, L"TWAIN_FAIL_WIA_FAIL", 0x70, L"TWAIN_FAIL_WIA_OK", 0x72},
      {"a library without its entry",
       [](kvd::sim::SimMachine& sim, SimTwain::Source&) {
         sim.Twain().InstallLibrary(kvd::test::kTwainLibrary, false);
       },
       100008, 1058, L"TWAIN_FAIL_WIA_FAIL", 0x70, L"TWAIN_FAIL_WIA_OK", 0x72},
      {"the manager does not open",
       [](kvd::sim::SimMachine& sim, SimTwain::Source&) { sim.Twain().SetManagerOpens(false); },
       100001, 1059, L"TWAIN_DEVICE_BUSY_WIA_FAIL", 0x78, L"TWAIN_DEVICE_BUSY_WIA_OK", 0x5A},
      {"no TWAIN source",
       [](kvd::sim::SimMachine&, SimTwain::Source& source) { source.productName = "Scanner"; },
       100003, 0, L"TWAIN_DEVICE_NOT_FOUND_WIA_FAIL", 0x78, L"TWAIN_DEVICE_NOT_FOUND_WIA_OK", 0x6A},
      {"the source does not open",
       [](kvd::sim::SimMachine&, SimTwain::Source& source) { source.opens = false; }, 100002, 1060,
       L"TWAIN_DEVICE_BUSY_WIA_FAIL", 0x78, L"TWAIN_DEVICE_BUSY_WIA_OK", 0x5A},
      {"the source cannot be enabled",
       [](kvd::sim::SimMachine&, SimTwain::Source& source) { source.enables = false; }, 100005,
       1061, L"TWAIN_DEVICE_BUSY_WIA_FAIL", 0x78, L"TWAIN_DEVICE_BUSY_WIA_OK", 0x5A},
      {"the source asks to be closed",
       [](kvd::sim::SimMachine&, SimTwain::Source& source) { source.event = tw::MSG_CLOSEDSREQ; },
       100012, 1062, L"cancelled", 0x42, L"cancelled", 0x42},
      {"the transfer is cancelled",
       [](kvd::sim::SimMachine&, SimTwain::Source& source) {
         source.transfers = {tw::TWRC_CANCEL};
       },
       100012, 1062, L"cancelled", 0x42, L"cancelled", 0x42},
      // A failed transfer is a failed scan, not a pass.
      {"the transfer fails",
       [](kvd::sim::SimMachine&, SimTwain::Source& source) {
         source.transfers = {tw::TWRC_FAILURE};
       },
       100011, 1062, L"TWAIN_FAIL_WIA_FAIL", 0x70, L"TWAIN_FAIL_WIA_OK", 0x72},
      {"no image information",
       [](kvd::sim::SimMachine&, SimTwain::Source& source) { source.imageInfoFails = true; },
       100011, 1062, L"TWAIN_FAIL_WIA_FAIL", 0x70, L"TWAIN_FAIL_WIA_OK", 0x72},
      // A source that never answers is given up, not waited for with the watchdog stopped.
      {"the source never sends its event",
       [](kvd::sim::SimMachine&, SimTwain::Source& source) { source.event = 0; }, 100011, 1062,
       L"TWAIN_FAIL_WIA_FAIL", 0x70, L"TWAIN_FAIL_WIA_OK", 0x72},
      {"the queue is told to quit",
       [](kvd::sim::SimMachine& sim, SimTwain::Source& source) {
         source.event = 0;
         sim.Twain().QuitWhenEnabled(true);
       },
       100011, 1062, L"TWAIN_FAIL_WIA_FAIL", 0x70, L"TWAIN_FAIL_WIA_OK", 0x72},
      {"the data-source file differs",
       [](kvd::sim::SimMachine& sim, SimTwain::Source&) {
         sim.Files().PutFile(L"C:\\Windows\\twain_32\\qvtv_0003\\qvtv_0003.ds", {1, 2});
       },
       100018, 1064, L"TWAIN_DRIVER_CORRUPTED_WIA_FAIL", 0x60, L"TWAIN_DRIVER_CORRUPTED_WIA_OK",
       0x62},
  };
  for (const Case& c : cases) {
    for (const bool wia : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (wia ? ", WIA passed" : ", WIA failed"));
      kvd::sim::SimMachine sim;
      kvd::test::ApplyNamed("usb-aio-composite.xml", sim);
      g_hListenEvent = sim.Ports().sync.CreateEvent(false, false, L"Listen_Event");
      ASSERT_TRUE(kvd::test::LoadTestStrings(sim, Texts()));
      kvd::test::InstallTwain(sim);
      SimTwain::Source source = Named("Quvari AIO 3400 Series TWAIN");
      c.arrange(sim, source);
      sim.Twain().AddSource(source);
      wiaPassed_ = wia;
      CKVDTWAINDetectionIssue check(sim.Ports(), services_);
      EXPECT_EQ(check.Diagnose(device_), c.result);
      EXPECT_EQ(check.m_nErrorCode, c.errorCode);
      EXPECT_EQ(check.m_strMessage, wia ? c.okText : c.failText);
      EXPECT_EQ(check.m_nButtons, wia ? c.okButtons : c.failButtons);
      EXPECT_EQ(check.m_nStatus, wia || c.result == 100012 ? 3 : 2);
      EXPECT_FALSE(sim.Twain().SourceOpen());
      EXPECT_FALSE(sim.Twain().DsmOpen());
      EXPECT_FALSE(sim.Twain().LibraryLoaded());
      EXPECT_EQ(sim.Twain().LiveWindows(), 0u);
      sim.Ports().sync.CloseHandle(g_hListenEvent.exchange(0));
    }
  }
}

TEST_F(TwainIssue, TheKeysOfEachFailure) {
  sim_.Twain().AddSource(Named("Scanner"));  // no TWAIN source at all
  device_.bOstrel = true;
  wiaPassed_ = true;
  EXPECT_EQ(Run(), 100003);
  EXPECT_EQ(check_->m_strMessage, L"TWAIN_DEVICE_NOT_FOUND_WIA_OK_OSTREL");
  wiaPassed_ = false;
  check_->SetUI(100001);
  EXPECT_EQ(check_->m_strMessage, L"TWAIN_DEVICE_BUSY_WIA_FAIL");  // no Ostrel variant
  check_->SetUI(100002);
  EXPECT_EQ(check_->m_nButtons, 0x78);
  check_->SetUI(100018);
  EXPECT_EQ(check_->m_strMessage, L"TWAIN_DRIVER_CORRUPTED_WIA_FAIL_OSTREL");
  check_->SetUI(4711);
  EXPECT_EQ(check_->m_strMessage, L"TWAIN_FAIL_WIA_FAIL_OSTREL");
}

TEST_F(TwainIssue, AnUnreachableDeviceAndTheWindows7UpgradeProblem) {
  sim_.Twain().AddSource(Named("Scanner"));
  device_.strInstanceId = L"USB\\VID_2F8D&PID_0999\\GONE";
  EXPECT_EQ(Run(), 118);
  EXPECT_EQ(check_->m_strMessage, L"no usb");
  EXPECT_EQ(check_->m_nErrorCode, 1001);
  EXPECT_EQ(check_->m_nButtons, 0x5A);
  EXPECT_EQ(check_->m_nStatus, 2);
  wiaPassed_ = true;
  EXPECT_EQ(Run(), 118);
  EXPECT_EQ(check_->m_nStatus, 3);

  device_.strInstanceId = kImageNode;
  g_bWin7 = true;  // and no KLE version registered
  EXPECT_EQ(Run(), 100019);
  EXPECT_EQ(check_->m_strMessage, L"win7");
  EXPECT_EQ(check_->m_nErrorCode, 1063);
  EXPECT_EQ(check_->m_nButtons, 0x62);
}

TEST_F(TwainIssue, TheDataSourceFiles) {
  check_ = std::make_unique<CKVDTWAINDetectionIssue>(sim_.Ports(), services_);
  EXPECT_EQ(check_->CheckDataSourceFiles(L"0003"), 0);
  sim_.Files().SetWriteTime(std::wstring(kvd::test::kTwainSources) + L"qvtv_0003\\qvtv_0003.ds",
                            2000);
  EXPECT_EQ(check_->CheckDataSourceFiles(L"0003"), 1057);
  EXPECT_EQ(check_->CheckDataSourceFiles(L"0004"), 1056);
  sim_.Files().Remove(std::wstring(kvd::test::kTwainSources) + L"qvtwds2.tmp");
  EXPECT_EQ(check_->CheckDataSourceFiles(L"0003"), 1054);
  sim_.Files().Remove(std::wstring(kvd::test::kTwainSources) + L"qvtwds2");
  EXPECT_EQ(check_->CheckDataSourceFiles(L"0003"), 1053);
  sim_.InjectFault("GetWindowsDirectory", 1, 5);
  EXPECT_EQ(check_->CheckDataSourceFiles(L"0003"), 100024);
}

TEST_F(TwainIssue, Simulation) {
  check_ = std::make_unique<CKVDTWAINDetectionIssue>(sim_.Ports(), services_);
  check_->m_bSimulate = true;
  check_->m_nSimulatedCase = 100012;
  EXPECT_EQ(check_->Diagnose(device_), 100012);
  EXPECT_EQ(check_->m_strMessage, L"cancelled");
  EXPECT_FALSE(check_->m_bSimulate);
  check_->m_bSimulate = true;
  check_->m_bSimulatePass = true;
  check_->m_nSimulatedCase = 107;
  EXPECT_EQ(check_->Diagnose(device_), 107);
  EXPECT_EQ(check_->m_strMessage, L"ok");
  EXPECT_TRUE(sim_.Twain().Calls().empty());
}

}  // namespace
