// The Dashra check against the machine's registry and files: where it finds the suite's folder
// (and puts its values back), which files it wants, the version and date tests of the two
// patches, and what it tells the program.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "issues/KVDDashraIssue.h"
#include "platform/sim/SimMachine.h"
#include "system/Helper.h"
#include "tests/support/SimLog.h"
#include "tests/support/SimStrings.h"

namespace {

using kvd::platform::kHkeyLocalMachine;
using kvd::sim::SimMachine;
using kvd::test::SimLog;

// Where the 32-bit program's keys are on 64-bit Windows.
constexpr const wchar_t* kSuiteKey = L"SOFTWARE\\Wow6432Node\\Quvari\\Brevane";
constexpr const wchar_t* kProductKey =
    L"SOFTWARE\\Wow6432Node\\Quvari\\{A827E665-B0FE-4E0E-9BF1-535F0E833E85}";
constexpr const wchar_t* kUninstall =
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const wchar_t* kBin = L"C:\\Apps\\Vendor\\Brevane\\bin\\";

std::vector<std::pair<std::string, std::string>> Texts() {
  std::vector<std::pair<std::string, std::string>> texts = {{"DASHRA", "Dashra"}};
  for (const char* key : {"DASHRA_OK", "DASHRA_FIXED", "DASHRA_APPLY_PATCH", "DASHRA_DEST_PATCH",
                          "DASHRA_INCOMPLETE", "DASHRA_NOT_FOUND"}) {
    texts.push_back({key, key});
  }
  return texts;
}

kvd::platform::FileTime FromUnixSeconds(std::int64_t seconds) {
  return static_cast<kvd::platform::FileTime>(seconds) * 10000000ULL + 116444736000000000ULL;
}

// The Vista flag is the program's, set once at start-up: each test leaves it as it found it.
class VistaFlag {
 public:
  explicit VistaFlag(bool vista) : before_(g_bVista.load()) { g_bVista = vista; }
  ~VistaFlag() { g_bVista = before_; }
  VistaFlag(const VistaFlag&) = delete;
  VistaFlag& operator=(const VistaFlag&) = delete;

 private:
  bool before_;
};

struct Machine {
  Machine() { EXPECT_TRUE(kvd::test::LoadTestStrings(sim, Texts())); }
  // A complete hub in `bin`, the suite's folder registered as `installFolder` unless empty.
  void Install(const std::wstring& installFolder = L"C:\\Apps\\Vendor\\",
               const std::wstring& bin = kBin) {
    if (!installFolder.empty()) {
      sim.Registry().PutString(kHkeyLocalMachine, kSuiteKey, L"InstallFolder", installFolder);
    }
    for (const wchar_t* file : {L"qvhub.exe", L"qvfuncs.dll", L"qvdashra.exe"}) {
      sim.Files().PutFile(bin + file, {'M', 'Z'});
    }
  }
  void Version(const wchar_t* file, std::uint16_t major) {
    kvd::sim::VersionResource info;
    info.fileVersion = {major, 2, 0, 0};
    sim.Process().PutVersionInfo(std::wstring(kBin) + file, info);
  }
  void UninstallEntry(const wchar_t* display, const wchar_t* command) {
    const std::wstring entry = std::wstring(kUninstall) + L"\\{D45}";
    sim.Registry().PutString(kHkeyLocalMachine, std::wstring(kUninstall) + L"\\Other",
                             L"DisplayName", L"Some other program");
    sim.Registry().PutString(kHkeyLocalMachine, entry, L"DisplayName", display);
    sim.Registry().PutString(kHkeyLocalMachine, entry, L"UninstallString", command);
  }
  std::wstring Suite(const wchar_t* name) {
    const auto value = sim.Registry().GetValue(kHkeyLocalMachine, kSuiteKey, name);
    return value ? kvd::platform::FromUtf16Bytes(value->bytes.data(), value->bytes.size()).c_str()
                 : L"<none>";
  }
  CKVDDashraIssue Check() {
    return CKVDDashraIssue(sim.Ports(), {[this](bool found) { present = found; },
                                         [this](bool needed) { destPatch = needed; }});
  }

  SimMachine sim;
  SimLog log{sim};
  std::optional<bool> present;
  std::optional<bool> destPatch;
};

TEST(DashraIssue, WhereTheSuiteIs) {
  using Setup = std::function<void(Machine&)>;
  struct Case {
    const char* name;
    Setup setup;
    int result;
    const wchar_t* debug;  // a debug record that must be written, or null
  };
  const Case cases[] = {
      {"its folder, with a trailing backslash", [](Machine& m) { m.Install(); }, 107, nullptr},
      {"the Brevane folder alone",
       [](Machine& m) {
         m.Install(L"");
         m.sim.Registry().PutString(kHkeyLocalMachine, kSuiteKey, L"InstallDir",
                                    L"C:\\Apps\\Vendor\\Brevane");
       },
       107,
       L"Failed to get Install folder from registry for diagnosing Dashra issue.Path : "
       L"SOFTWARE\\Quvari\\Brevane"},
      {"its folder of the wrong type, found through the uninstall entry",
       [](Machine& m) {
         m.Install(L"");
         m.sim.Registry().PutDword(kHkeyLocalMachine, kSuiteKey, L"InstallFolder", 1);
         m.UninstallEntry(L"QV Dashra", L"C:\\Apps\\Vendor\\Brevane\\Uninstall\\setup.exe");
       },
       107, L"GetDashraInstallPath : C:\\Apps\\Vendor\\Brevane"},
      {"nothing registered and no uninstall entry", [](Machine& m) { m.Install(L""); }, 0,
       L"Failed to get InstallDir from registry for diagnosing Dashra issue.Path : "
       L"SOFTWARE\\Quvari\\Brevane"},
      {"an uninstall entry whose values are numbers",
       [](Machine& m) {
         m.Install(L"");
         const std::wstring entry = std::wstring(kUninstall) + L"\\{D46}";
         m.sim.Registry().PutDword(kHkeyLocalMachine, entry, L"DisplayName", 7);
         m.sim.Registry().PutDword(kHkeyLocalMachine, entry, L"UninstallString", 7);
         m.UninstallEntry(L"QV Dashra", L"");
         m.sim.Registry().PutDword(kHkeyLocalMachine, std::wstring(kUninstall) + L"\\{D45}",
                                   L"UninstallString", 9);
       },
       0, L"GetDashraInstallPath : "},
      {"an uninstall entry whose path has no Brevane folder",
       [](Machine& m) {
         m.Install(L"");
         m.UninstallEntry(L"QV Dashra", L"C:\\Apps\\Vendor\\Uninstall\\setup.exe");
       },
       0, L"GetDashraInstallPath : "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine m;
    c.setup(m);
    CKVDDashraIssue check = m.Check();
    EXPECT_EQ(check.m_strName, L"Dashra");
    m.log.Take();
    EXPECT_EQ(check.Diagnose({}), c.result);
    const auto records = m.log.Take();
    EXPECT_TRUE(SimLog::Contains(records, L"I0", L"Diagnoses Dashra issue."));
    if (c.debug != nullptr) {
      EXPECT_TRUE(SimLog::Contains(records, L"DB", c.debug)) << c.debug;
    }
    if (c.result == 107) {
      EXPECT_TRUE(SimLog::Contains(records, L"I0", L"DASHRA OK"));
      EXPECT_EQ(check.m_nStatus, 1);
      EXPECT_EQ(check.m_nButtons, 0);
      EXPECT_EQ(m.present, std::optional<bool>(true));
    } else {
      EXPECT_TRUE(SimLog::Contains(records, L"I0", L"Dashra exe not found: \\bin\\qvhub.exe"));
      EXPECT_EQ(check.m_strMessage, L"DASHRA_NOT_FOUND");
      EXPECT_EQ(check.m_nErrorCode, 1049);
      EXPECT_EQ(m.present, std::optional<bool>(false));
    }
  }
}

// The folder values put back from the uninstall entry: said once, then an ordinary pass.
TEST(DashraIssue, TheFolderValuesPutBack) {
  Machine m;
  m.Install(L"", L"C:\\Apps\\Vendor\\brevane\\bin\\");
  m.UninstallEntry(L"  my qv dashra suite ",
                   L"C:\\Apps\\Vendor\\brevane\\Uninstall\\setup.exe -remove");
  CKVDDashraIssue check = m.Check();
  EXPECT_EQ(check.Diagnose({}), 107);
  EXPECT_EQ(check.m_strMessage, L"DASHRA_FIXED");
  EXPECT_EQ(m.Suite(L"InstallDir"), L"C:\\Apps\\Vendor\\brevane");
  EXPECT_EQ(m.Suite(L"InstallFolder"), L"C:\\Apps\\Vendor");
  EXPECT_EQ(check.Diagnose({}), 107);
  EXPECT_EQ(check.m_strMessage, L"DASHRA_OK");
}

// Values that could not be written are not reported as put back.
TEST(DashraIssue, AFailedWriteIsNoRepair) {
  for (const char* failing : {"CreateKeyEx", "SetValueEx"}) {
    SCOPED_TRACE(failing);
    Machine m;
    m.Install(L"");
    m.UninstallEntry(L"QV Dashra", L"C:\\Apps\\Vendor\\Brevane\\Uninstall\\setup.exe");
    m.sim.InjectFault(failing, 1, 5);
    CKVDDashraIssue check = m.Check();
    m.log.Take();
    EXPECT_EQ(check.Diagnose({}), 107);
    EXPECT_EQ(check.m_strMessage, L"DASHRA_OK");
    EXPECT_FALSE(check.m_bPathRepaired);
    const auto records = m.log.Take();
    EXPECT_TRUE(SimLog::Contains(records, L"DB",
                                 L"Failed to create registry key :  SOFTWARE\\Quvari\\Brevane") ||
                SimLog::Contains(records, L"DB",
                                 L"Failed to set value of ImagingClassIndex from registry.Path : "
                                 L"SOFTWARE\\Quvari\\Brevane"));
  }
}

TEST(DashraIssue, TheFilesItWants) {
  struct Case {
    const char* name;
    const wchar_t* missing;
    bool tarvel;
    int result;
    const wchar_t* message;
    int errorCode;
  };
  for (const Case& c :
       {Case{"no hub director", L"qvhub.exe", false, 0, L"DASHRA_NOT_FOUND", 1049},
        Case{"no functions library", L"qvfuncs.dll", false, 0, L"DASHRA_INCOMPLETE", 1050},
        Case{"no functions library on a Tarvel device", L"qvfuncs.dll", true, 107, L"DASHRA_OK", 0},
        Case{"no Dashra executable", L"qvdashra.exe", false, 107, L"DASHRA_OK", 0}}) {
    SCOPED_TRACE(c.name);
    Machine m;
    m.Install();
    m.sim.Files().Remove(std::wstring(kBin) + c.missing);
    _DeviceDetails device;
    device.bTarvel = c.tarvel;
    CKVDDashraIssue check = m.Check();
    EXPECT_EQ(check.Diagnose(device), c.result);
    EXPECT_EQ(check.m_strMessage, c.message);
    EXPECT_EQ(check.m_nErrorCode, c.errorCode);
    EXPECT_EQ(check.m_nStatus, c.result == 107 ? 1 : 2);
    EXPECT_EQ(check.m_nButtons, c.result == 107 ? 0 : 66);
    EXPECT_EQ(m.present, std::optional<bool>(c.errorCode != 1049));
  }
}

TEST(DashraIssue, ThePatches) {
  constexpr std::int64_t kFebruaryFirst2008 = 1201824000;
  struct Case {
    const char* name;
    std::uint16_t dashra;  // major version, 0: no version resource
    std::int64_t written;
    bool vista;
    std::uint16_t hub;
    const wchar_t* product;  // the product's Version, null: none
    int result;
  };
  for (const Case& c : {
           Case{"9.x of 2008-02-01 on Vista", 9, kFebruaryFirst2008, true, 0, nullptr, 107},
           Case{"8.x of 2008-02-01 on Vista", 8, kFebruaryFirst2008, true, 0, nullptr, 112},
           Case{"8.x of 2008-02-01 elsewhere", 8, kFebruaryFirst2008, false, 0, nullptr, 107},
           Case{"9.x of 2008-01-01 on Vista", 9, 1199145600, true, 0, nullptr, 112},
           Case{"8.x dated in the future", 8, 4102444800, true, 0, nullptr, 107},
           Case{"no version resource", 0, kFebruaryFirst2008, true, 0, nullptr, 107},
           Case{"hub 130, another product version", 0, 0, false, 130, L"130.1.0.0", 107},
           Case{"hub 130, product 130.0.0.0 in any case", 0, 0, false, 130, L"130.0.0.0", 113},
           Case{"hub 13 without a product version", 0, 0, false, 13, nullptr, 113},
           Case{"hub 12 without a product version", 0, 0, false, 12, nullptr, 107},
       }) {
    SCOPED_TRACE(c.name);
    VistaFlag vista(c.vista);
    Machine m;
    m.Install();
    if (c.dashra != 0) m.Version(L"qvdashra.exe", c.dashra);
    m.sim.Files().SetWriteTime(std::wstring(kBin) + L"qvdashra.exe", FromUnixSeconds(c.written));
    if (c.hub != 0) m.Version(L"qvhub.exe", c.hub);
    if (c.product != nullptr) {
      m.sim.Registry().PutString(kHkeyLocalMachine, kProductKey, L"Version", c.product);
    }
    CKVDDashraIssue check = m.Check();
    m.log.Take();
    EXPECT_EQ(check.Diagnose({}), c.result);
    const auto records = m.log.Take();
    EXPECT_EQ(m.destPatch, std::optional<bool>(c.result == 113));
    switch (c.result) {
      case 112:
        EXPECT_TRUE(SimLog::Contains(records, L"I0", L"Need to install tarvel_vista_tablet_patch"));
        EXPECT_EQ(check.m_strMessage, L"DASHRA_APPLY_PATCH");
        EXPECT_EQ(check.m_nStatus, 2);
        EXPECT_EQ(check.m_nButtons, 194);
        EXPECT_EQ(check.m_nErrorCode, 1051);
        break;
      case 113:
        EXPECT_TRUE(SimLog::Contains(records, L"I0", L"Need to install destination patch"));
        EXPECT_EQ(check.m_strMessage, L"DASHRA_DEST_PATCH");
        EXPECT_EQ(check.m_nStatus, 3);
        EXPECT_EQ(check.m_nButtons, 194);
        EXPECT_EQ(check.m_nErrorCode, 1052);
        break;
      default:
        EXPECT_EQ(check.m_strMessage, L"DASHRA_OK");
        EXPECT_EQ(check.m_nErrorCode, 0);
        break;
    }
  }
}

// A truncated version block reads as none.
TEST(DashraIssue, ATruncatedVersionResourceIsNone) {
  VistaFlag vista(true);
  Machine m;
  m.Install();
  m.sim.Process().PutVersionBlock(std::wstring(kBin) + L"qvdashra.exe", {0x34, 0x00, 0x34, 0x00});
  m.sim.Process().PutVersionBlock(std::wstring(kBin) + L"qvhub.exe", {0x10});
  CKVDDashraIssue check = m.Check();
  EXPECT_EQ(check.Diagnose({}), 107);
}

// The destination patch is asked for by the run that found the need, and no longer once it is met.
TEST(DashraIssue, TheDestinationPatchIsDecidedByEachRun) {
  Machine m;
  m.Install();
  m.Version(L"qvhub.exe", 130);
  CKVDDashraIssue check = m.Check();
  EXPECT_EQ(check.Diagnose({}), 113);
  EXPECT_EQ(m.destPatch, std::optional<bool>(true));
  m.sim.Registry().PutString(kHkeyLocalMachine, kProductKey, L"Version", L"130.0.1.0");
  EXPECT_EQ(check.Diagnose({}), 107);
  EXPECT_EQ(m.destPatch, std::optional<bool>(false));
}

TEST(DashraIssue, Simulation) {
  struct Case {
    int simulated;
    const wchar_t* message;
    int status;
    int buttons;
  };
  for (const Case& c : {Case{-1, L"DASHRA_INCOMPLETE", 2, 66}, Case{0, L"DASHRA_NOT_FOUND", 2, 66},
                        Case{107, L"DASHRA_OK", 1, 0}, Case{112, L"DASHRA_APPLY_PATCH", 2, 194},
                        Case{113, L"DASHRA_DEST_PATCH", 3, 194}}) {
    SCOPED_TRACE(c.simulated);
    Machine m;
    CKVDDashraIssue check = m.Check();
    check.m_bSimulate = true;
    check.m_bSimulatePass = true;
    check.m_nSimulatedCase = c.simulated;
    EXPECT_EQ(check.Diagnose({}), c.simulated);
    EXPECT_FALSE(check.m_bSimulate);
    EXPECT_FALSE(check.m_bSimulatePass);
    EXPECT_EQ(check.m_strMessage, c.message);
    EXPECT_EQ(check.m_nStatus, c.status);
    EXPECT_EQ(check.m_nButtons, c.buttons);
    EXPECT_EQ(check.m_nErrorCode, 0);
    EXPECT_EQ(m.present, std::optional<bool>(true));
    EXPECT_EQ(m.destPatch, std::optional<bool>(c.simulated == 113));
  }
}

}  // namespace
