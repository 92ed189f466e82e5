// The scanning-application checks: QV Scan of the suite's product for an Ostrel device (with its
// TWAIN folder, the 32-bit program's Program Files, and no path made without a product), and a
// Lumeq model's ScanTo (the model folder found as the uninstaller finds it) with QV Scan as its
// fallback; the executables handed to the program; the simulation.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "issues/KVDQVScanIssue.h"
#include "platform/sim/SimMachine.h"
#include "tests/support/ScenarioSim.h"
#include "tests/support/SimLog.h"
#include "tests/support/SimStrings.h"

namespace {

using kvd::sim::SimInstaller;
using kvd::sim::SimMachine;
constexpr kvd::platform::HKey kMachine = kvd::platform::kHkeyLocalMachine;
constexpr const wchar_t* kQvScan =
    L"C:\\Program Files (x86)\\Quvari\\Ostrel\\qx-800\\bin\\QVScan.exe";
constexpr const wchar_t* kTwainFolder = L"C:\\Windows\\twain_32\\qx-800";
constexpr const wchar_t* kScanTo =
    L"C:\\Program Files (x86)\\Quvari\\Lumeq LQ3100\\Scan To\\qvscanto.exe";

std::vector<std::pair<std::string, std::string>> Texts() {
  std::vector<std::pair<std::string, std::string>> texts = {{"QVSCAN", "QV Scan"}};
  for (const char* key :
       {"QVSCAN_OK", "QV_SCAN_NOT_FOUND", "QV_SCAN_UNKNOWN", "QV_SCAN_TO_FOUND"}) {
    texts.push_back({key, key});
  }
  return texts;
}

// The suite's product installed for a model, in the 64-bit Program Files as Windows Installer
// reports it to a 32-bit program.
void InstallProduct(SimMachine& sim, const wchar_t* model) {
  SimInstaller::Product product;
  product.code = L"{6A3F0C21-4B7D-4E58-9F12-0C8D3E7A5B46}";
  product.info[L"Publisher"] = L"Quvari";
  product.properties[L"ModelName"] = model;
  product.targetPaths[L"INSTALLDIR"] = L"C:\\Program Files\\Quvari\\Ostrel\\";
  sim.Installer().AddProduct(product);
}

struct Machine {
  explicit Machine(std::vector<const char*> scenarios) {
    for (const char* scenario : scenarios) kvd::test::ApplyNamed(scenario, sim);
    EXPECT_TRUE(kvd::test::LoadTestStrings(sim, Texts()));
  }
  CKVDQVScanIssue::Services Services() {
    return {[this] { return wiaPassed; }, [] { return false; },
            [this](const std::wstring& path) { qvScanPaths.push_back(path); },
            [this](const std::wstring& path) { scanToPaths.push_back(path); }};
  }
  static DeviceDetails Ostrel() {
    DeviceDetails device;
    device.strDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0032";
    device.strDeviceDesc = L"Quvari QX-800 Series";
    device.bOstrel = true;
    return device;
  }
  static DeviceDetails Lumeq() {
    DeviceDetails device;
    device.strDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0011";
    device.strDeviceDesc = L"Quvari LQ 3100 Scanner";
    device.bLumeq = true;
    return device;
  }

  SimMachine sim;
  kvd::test::SimLog log{sim};
  bool wiaPassed = false;
  std::vector<std::wstring> qvScanPaths;
  std::vector<std::wstring> scanToPaths;
};

TEST(QVScanIssue, TheOstrelDevicesApplication) {
  using Setup = std::function<void(SimMachine&)>;
  const Setup whole = [](SimMachine& sim) {
    InstallProduct(sim, L"QX-800");
    sim.Files().PutFile(kQvScan, {'M', 'Z'});
    sim.Files().PutFolder(kTwainFolder);
  };
  struct Case {
    const char* name;
    Setup setup;
    bool wiaPassed;
    int result;
    const wchar_t* key;
    int status;
    int errorCode;         // 0: none
    const wchar_t* path;   // the QV Scan path handed to the program
    const wchar_t* debug;  // a debug record that must be written, or null
  };
  const Case cases[] = {
      {"QV Scan in the 32-bit Program Files, and its TWAIN folder", whole, false, 107, L"QVSCAN_OK",
       1, 0, kQvScan, nullptr},
      {"a 64-bit program looks where the product says",
       [](SimMachine& sim) {
         InstallProduct(sim, L"QX-800");
         sim.System().SetWow64(false);
         sim.Files().PutFile(L"C:\\Program Files\\Quvari\\Ostrel\\qx-800\\bin\\QVScan.exe",
                             {'M', 'Z'});
         sim.Files().PutFolder(kTwainFolder);
       },
       false, 107, L"QVSCAN_OK", 1, 0,
       L"C:\\Program Files\\Quvari\\Ostrel\\qx-800\\bin\\QVScan.exe", nullptr},
      {"QV Scan missing",
       [whole](SimMachine& sim) {
         whole(sim);
         sim.Files().Remove(kQvScan);
       },
       false, 100022, L"QV_SCAN_NOT_FOUND", 2, 1087, kQvScan,
       L"QV Scan not found. Path: C:\\Program Files "
       L"(x86)\\Quvari\\Ostrel\\qx-800\\bin\\QVScan.exe"},
      {"QV Scan missing, the Windows scan passed: a warning",
       [whole](SimMachine& sim) {
         whole(sim);
         sim.Files().Remove(kQvScan);
       },
       true, 100022, L"QV_SCAN_NOT_FOUND", 3, 1087, kQvScan, nullptr},
      {"its TWAIN folder missing",
       [whole](SimMachine& sim) {
         whole(sim);
         sim.Files().Remove(kTwainFolder);
       },
       false, 100021, L"QV_SCAN_UNKNOWN", 2, 1088, kQvScan,
       L"Failed to detect the Device folder in the twain_32 folder. Path: "
       L"C:\\Windows\\twain_32\\\\qx-800"},
      {"no product for the model: nothing looked for on the current drive",
       [](SimMachine& sim) {
         sim.Files().PutFile(L"C:\\bin\\QVScan.exe", {'M', 'Z'});
         sim.Files().PutFolder(L"C:\\Windows\\twain_32");
       },
       false, 100022, L"QV_SCAN_NOT_FOUND", 2, 1087, L"", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine m({"network-ostrel.xml"});
    c.setup(m.sim);
    m.wiaPassed = c.wiaPassed;
    CKVDQVScanIssue check(m.sim.Ports(), m.Services());
    EXPECT_EQ(check.m_strName, L"QV Scan");
    m.log.Take();
    EXPECT_EQ(check.Diagnose(Machine::Ostrel()), c.result);
    EXPECT_EQ(check.m_strMessage, c.key);
    EXPECT_EQ(check.m_nStatus, c.status);
    EXPECT_EQ(check.m_nErrorCode, c.errorCode);
    EXPECT_EQ(check.m_nButtons, c.result == 107 ? 0 : 98);
    EXPECT_EQ(m.qvScanPaths, std::vector<std::wstring>{c.path});
    if (c.debug != nullptr) {
      EXPECT_TRUE(kvd::test::SimLog::Contains(m.log.Take(), L"DB", c.debug)) << c.debug;
    }
    EXPECT_EQ(check.Fix(Machine::Ostrel(), c.result), 1);
  }
}

TEST(QVScanIssue, TheLumeqModelsScanTo) {
  using Setup = std::function<void(SimMachine&)>;
  struct Case {
    const char* name;
    Setup setup;
    int result;
    const wchar_t* key;
    int errorCode;  // 0: none
    std::vector<std::wstring> scanToPaths;
    std::vector<std::wstring> qvScanPaths;
  };
  const Case cases[] = {
      {"ScanTo in the model's folder",
       [](SimMachine& sim) {
         sim.Files().PutFile(kScanTo, {'M', 'Z'});
       },
       107,
       L"QVSCAN_OK",
       0,
       {kScanTo},
       {}},
      {"no ScanTo but QV Scan",
       [](SimMachine& sim) {
         InstallProduct(sim, L"LQ 3100");
         sim.Files().PutFile(L"C:\\Program Files (x86)\\Quvari\\Ostrel\\lq 3100\\bin\\QVScan.exe",
                             {'M', 'Z'});
         sim.Files().PutFolder(L"C:\\Windows\\twain_32\\lq 3100");
       },
       107,
       L"QVSCAN_OK",
       1090,
       {kScanTo},
       {L"C:\\Program Files (x86)\\Quvari\\Ostrel\\lq 3100\\bin\\QVScan.exe"}},
      {"neither: the QV Scan check's result and code",
       [](SimMachine&) {},
       100022,
       L"QV_SCAN_TO_FOUND",
       1087,
       {kScanTo},
       {L""}},
      {"no model folder lists the device",
       [](SimMachine& sim) {
         sim.Files().Remove(L"C:\\Program Files (x86)\\Quvari\\Lumeq LQ3100\\properties.ini");
         sim.Registry().PutString(kMachine,
                                  L"SYSTEM\\CurrentControlSet\\Control\\Class\\"
                                  L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0011",
                                  L"InfPath", L"oem7.inf");
       },
       100022,
       L"QV_SCAN_TO_FOUND",
       1087,
       {},
       {L""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine m({"usb-lumeq.xml", "suite-uninstallers.xml"});
    c.setup(m.sim);
    CKVDScanToIssue check(m.sim.Ports(), m.Services());
    const int result = check.Diagnose(Machine::Lumeq());
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(check.m_strMessage, c.key);
    EXPECT_EQ(check.m_nStatus, c.result == 107 ? 1 : 2);
    if (c.result != 107) {
      EXPECT_EQ(check.m_nErrorCode, c.errorCode);
    }
    EXPECT_EQ(m.scanToPaths, c.scanToPaths);
    EXPECT_EQ(m.qvScanPaths, c.qvScanPaths);
  }
}

TEST(QVScanIssue, WhyTheScanToSearchFailed) {
  Machine m({"usb-lumeq.xml", "suite-uninstallers.xml"});
  m.sim.Registry().PutDword(kMachine,
                            L"SYSTEM\\CurrentControlSet\\Control\\Class\\"
                            L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0011",
                            L"MatchingDeviceId", 1);
  CKVDScanToIssue check(m.sim.Ports(), m.Services());
  m.log.Take();
  EXPECT_FALSE(check.DiagnoseSCanToIssue(Machine::Lumeq()));
  EXPECT_EQ(check.m_nErrorCode, 1089);
  EXPECT_TRUE(kvd::test::SimLog::Contains(
      m.log.Take(), L"DB",
      L"Failed to get the MatchingDEviceID from registry for diagnosing QVScanTo issue."));
}

TEST(QVScanIssue, Simulation) {
  Machine m({});
  struct Case {
    bool pass;
    int simulated;
    int result;
    const wchar_t* key;
  };
  for (const Case& c :
       {Case{true, 0, 107, L"QVSCAN_OK"}, Case{false, 100022, 100022, L"QV_SCAN_NOT_FOUND"},
        Case{false, 5, 5, L"QV_SCAN_UNKNOWN"}}) {
    CKVDQVScanIssue check(m.sim.Ports(), m.Services());
    check.m_bSimulate = true;
    check.m_bSimulatePass = c.pass;
    check.m_nSimulatedCase = c.simulated;
    EXPECT_EQ(check.Diagnose(Machine::Ostrel()), c.result);
    EXPECT_EQ(check.m_strMessage, c.key);
    EXPECT_FALSE(check.m_bSimulate);
  }
  for (const bool pass : {true, false}) {
    CKVDScanToIssue check(m.sim.Ports(), m.Services());
    check.m_bSimulate = true;
    check.m_bSimulatePass = pass;
    EXPECT_EQ(check.Diagnose(Machine::Lumeq()), pass ? 107 : 0);
    EXPECT_EQ(check.m_strMessage, pass ? L"QVSCAN_OK" : L"QV_SCAN_TO_FOUND");
  }
  EXPECT_TRUE(m.qvScanPaths.empty());
  EXPECT_TRUE(m.scanToPaths.empty());
}

}  // namespace
