// The monitor check against the machine's processes, files and services: what each state of the
// monitor gives, the Parlo service set right on the way, the repair and each way it can fail,
// every process handle closed.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "issues/KVDBVMIssue.h"
#include "platform/sim/SimMachine.h"
#include "tests/support/SimLog.h"
#include "tests/support/SimStrings.h"

namespace {

namespace svc = kvd::platform::svc;
using kvd::sim::SimMachine;
using kvd::sim::SimServices;
using kvd::test::SimLog;

// Where the 32-bit program's key is on 64-bit Windows.
constexpr const wchar_t* kSuiteKey = L"SOFTWARE\\Wow6432Node\\Quvari\\Brevane";
constexpr const wchar_t* kMonitor = L"C:\\Apps\\Quvari\\Brevane\\bin\\qvmonitr.exe";
constexpr const wchar_t* kStartup =
    L"C:\\Users\\tester\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup";
constexpr const wchar_t* kParlo = L"Parlo Driver QVZ12";
constexpr const wchar_t* kNoParlo = L"Failed to access the Parlo Service.";

std::vector<std::pair<std::string, std::string>> Texts() {
  std::vector<std::pair<std::string, std::string>> texts = {{"BVM", "Monitor"}};
  for (const char* key : {"BVM_OK", "BVM_NOT_FOUND", "BVM_MULTIPLE", "GENERIC_FIX_FAIL"}) {
    texts.push_back({key, key});
  }
  return texts;
}

struct Machine {
  Machine() {
    EXPECT_TRUE(kvd::test::LoadTestStrings(sim, Texts()));
    sim.Registry().PutString(kvd::platform::kHkeyLocalMachine, kSuiteKey, L"InstallFolder",
                             L"C:\\Apps\\Quvari\\");
    sim.Files().PutFile(kMonitor, {'M', 'Z', '1'});
    sim.Files().PutFolder(kStartup);
    Parlo(svc::AutoStart, svc::Running);
  }
  void Parlo(std::uint32_t startType, std::uint32_t state) {
    SimServices::Service service;
    service.startType = startType;
    service.state = state;
    sim.Services().Put(kParlo, service);
  }
  std::uint32_t Run(const wchar_t* image = kMonitor) { return sim.Process().StartProcess(image); }
  CKVDBVMIssue Check() {
    return CKVDBVMIssue(sim.Ports(), {[this](bool held) { hold = held; }});
  }

  SimMachine sim;
  SimLog log{sim};
  std::optional<bool> hold;
};

TEST(MonitorIssue, WhatTheMonitorGives) {
  using Setup = std::function<void(Machine&)>;
  struct Case {
    const char* name;
    Setup setup;
    int result;
    int errorCode;
    const wchar_t* debug;  // a debug record that must be written, or null
  };
  const Case cases[] = {
      {"one runs", [](Machine& m) { m.Run(); }, 107, 0, nullptr},
      {"one runs, named with a blank and in capitals",
       [](Machine& m) { m.sim.Process().StartProcess(kMonitor, 0, L" QVMONITR.EXE"); }, 107, 0,
       nullptr},
      {"one among two hundred programs",
       [](Machine& m) {
         for (int i = 0; i < 199; ++i) m.Run(L"C:\\Windows\\system32\\svchost.exe");
         m.Run();
       },
       107, 0, nullptr},
      {"none runs", [](Machine&) {}, 100014, 1082, L"BVM not running."},
      {"the process list cannot be had",
       [](Machine& m) {
         m.Run();
         m.sim.InjectFault("CreateToolhelp32Snapshot", 1, 8);
       },
       100014, 1082, L"BVM not running."},
      {"two run",
       [](Machine& m) {
         m.Run();
         m.Run();
       },
       100015, 1083, L"Multiple instance of BVM is running."},
      {"the suite's folder is not registered",
       [](Machine& m) {
         m.sim.Registry().RemoveValue(kvd::platform::kHkeyLocalMachine, kSuiteKey,
                                      L"InstallFolder");
         m.Run();
       },
       100013, 1081,
       L"Failed to get Install folder from registry for diagnosing BVM  issue.Path : "
       L"SOFTWARE\\Quvari\\Brevane"},
      {"the suite's folder is a number",
       [](Machine& m) {
         m.sim.Registry().PutDword(kvd::platform::kHkeyLocalMachine, kSuiteKey, L"InstallFolder",
                                   7);
       },
       100013, 1081,
       L"Failed to get Install folder from registry for diagnosing BVM issue.Path : "
       L"SOFTWARE\\Quvari\\Brevane"},
      {"the suite's folder is empty",
       [](Machine& m) {
         m.sim.Registry().PutString(kvd::platform::kHkeyLocalMachine, kSuiteKey, L"InstallFolder",
                                    L"");
         m.sim.Files().PutFile(L"C:\\Brevane\\bin\\qvmonitr.exe", {'M', 'Z'});
       },
       100013, 1081, nullptr},
      {"the monitor is not installed",
       [](Machine& m) {
         m.sim.Files().Remove(kMonitor);
         m.Run();
       },
       100013, 1081, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine m;
    c.setup(m);
    CKVDBVMIssue check = m.Check();
    EXPECT_EQ(check.m_strName, L"Monitor");
    m.log.Take();
    EXPECT_EQ(check.Diagnose({}), c.result);
    EXPECT_EQ(check.m_nErrorCode, c.errorCode);
    const auto records = m.log.Take();
    EXPECT_TRUE(SimLog::Contains(records, L"I0",
                                 L"Checks if BVM is running and for Multiple instance of BVM."));
    if (c.debug != nullptr) {
      EXPECT_TRUE(SimLog::Contains(records, L"DB", c.debug)) << c.debug;
    }
    switch (c.result) {
      case 107:
        EXPECT_EQ(check.m_strMessage, L"BVM_OK");
        EXPECT_EQ(check.m_nStatus, 1);
        EXPECT_EQ(check.m_nButtons, 0);
        break;
      case 100013:
        EXPECT_EQ(check.m_strMessage, L"BVM_NOT_FOUND");
        EXPECT_EQ(check.m_nStatus, 3);
        EXPECT_EQ(check.m_nButtons, 0x62);
        break;
      default:
        EXPECT_EQ(check.m_strMessage, L"BVM_MULTIPLE");
        EXPECT_EQ(check.m_nStatus, 3);
        EXPECT_EQ(check.m_nButtons, 0x41);
        break;
    }
    EXPECT_EQ(check.m_bCheckMultiple, c.result != 100014);
    EXPECT_EQ(m.sim.Process().OpenProcessHandles(), 0u);
  }
}

// Once a diagnosis found no monitor, several no longer count as a problem.
TEST(MonitorIssue, SeveralPassAfterARunWithoutAny) {
  Machine m;
  CKVDBVMIssue check = m.Check();
  EXPECT_EQ(check.Diagnose({}), 100014);
  m.Run();
  m.Run();
  EXPECT_EQ(check.Diagnose({}), 107);
  EXPECT_EQ(check.m_arrProcessIds.size(), 2u);
}

// The Parlo service is set to start automatically and started on the way; it never decides the
// check.
TEST(MonitorIssue, TheParloServiceOnTheWay) {
  struct Case {
    const char* name;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> service;  // start type, state
    bool repaired;
    int accessFailures;  // records of kNoParlo
  };
  for (const Case& c :
       {Case{"usable", std::pair{svc::AutoStart, svc::Running}, false, 0},
        Case{"disabled", std::pair{svc::Disabled, svc::Stopped}, true, 0},
        Case{"stopped on demand", std::pair{svc::DemandStart, svc::Stopped}, true, 0},
        Case{"missing", std::nullopt, false, 2}}) {
    SCOPED_TRACE(c.name);
    Machine m;
    m.sim.Services().Remove(kParlo);
    if (c.service) m.Parlo(c.service->first, c.service->second);
    m.Run();
    CKVDBVMIssue check = m.Check();
    m.log.Take();
    EXPECT_EQ(check.Diagnose({}), 107);
    const auto records = m.log.Take();
    const bool usable = c.service && !c.repaired;
    EXPECT_EQ(SimLog::Contains(records, L"I0", L"Parlo Service OK."), usable);
    EXPECT_EQ(SimLog::Contains(records, L"I0", L"Fixes Parlo Service Issue"), !usable);
    EXPECT_EQ(SimLog::Contains(records, L"DB", L"KVD failed to start Parlo Service."),
              !c.service.has_value());
    EXPECT_EQ(static_cast<int>(std::count_if(
                  records.begin(), records.end(),
                  [](const SimLog::Record& r) { return r.tag == L"##" && r.text == kNoParlo; })),
              c.accessFailures);
    if (c.service) {
      const auto service = m.sim.Services().Get(kParlo);
      ASSERT_TRUE(service.has_value());
      EXPECT_EQ(service->state, svc::Running);
      EXPECT_EQ(service->startType, c.repaired ? svc::AutoStart : c.service->first);
    }
    EXPECT_EQ(m.sim.Services().OpenHandleCount(), 0u);
  }
}

TEST(MonitorIssue, TheRepairEndsEveryMonitorAndStartsOne) {
  Machine m;
  const std::uint32_t first = m.Run();
  const std::uint32_t second = m.Run();
  const std::uint32_t other = m.Run(L"C:\\Windows\\notepad.exe");
  CKVDBVMIssue check = m.Check();
  ASSERT_EQ(check.Diagnose({}), 100015);
  m.log.Take();
  EXPECT_EQ(check.Fix({}, 100015), 1);
  EXPECT_EQ(m.sim.Process().Terminated(), (std::vector<std::uint32_t>{first, second}));
  const auto sleeps = m.sim.Clock().Sleeps();
  EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 500u), 2);
  const auto launches = m.sim.Shell().Launches();
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].application, kMonitor);
  EXPECT_FALSE(launches[0].commandLine.has_value());
  // One monitor runs again, beside the program that was never one.
  const auto running = m.sim.Process().Processes();
  ASSERT_EQ(running.size(), 2u);
  EXPECT_EQ(running[0].id, other);
  EXPECT_EQ(running[1].imagePath, kMonitor);
  EXPECT_EQ(m.sim.Files().GetFile(std::wstring(kStartup) + L"\\qvmonitr.exe"),
            (std::vector<std::uint8_t>{'M', 'Z', '1'}));
  EXPECT_EQ(check.m_strMessage, L"BVM_OK");
  EXPECT_EQ(check.m_nStatus, 1);
  EXPECT_EQ(check.m_nButtons, 0);
  EXPECT_EQ(m.hold, std::optional<bool>(false));
  EXPECT_EQ(m.sim.Process().OpenProcessHandles(), 0u);
  EXPECT_EQ(check.Diagnose({}), 107);
}

TEST(MonitorIssue, TheRepairsFailures) {
  using Setup = std::function<void(Machine&)>;
  struct Case {
    const char* name;
    Setup setup;  // after a diagnosis
    const wchar_t* record;
    std::size_t terminated;
  };
  const Case cases[] = {
      {"the monitor is not installed", [](Machine& m) { m.sim.Files().Remove(kMonitor); },
       L"The BVM exe not found.", 0},
      {"the suite's folder went away",
       [](Machine& m) {
         m.sim.Registry().RemoveValue(kvd::platform::kHkeyLocalMachine, kSuiteKey,
                                      L"InstallFolder");
       },
       L"Failed to identify the QV Program Directory for starting the BVM.", 0},
      {"it cannot be started", [](Machine& m) { m.sim.InjectFault("CreateProcess", 1, 5); },
       L"Failed to Create BVM Process.", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine m;
    CKVDBVMIssue check = m.Check();
    ASSERT_EQ(check.Diagnose({}), 100014);
    c.setup(m);
    m.log.Take();
    EXPECT_EQ(check.Fix({}, 100014), 0);
    const auto records = m.log.Take();
    EXPECT_TRUE(SimLog::Contains(records, L"I0", L"Fixes the BVM Issues."));
    EXPECT_TRUE(SimLog::Contains(records, L"DB", c.record) ||
                SimLog::Contains(records, L"##", c.record))
        << c.record;
    EXPECT_TRUE(SimLog::Contains(records, L"DB", L"Failed to start BVM."));
    EXPECT_EQ(check.m_nErrorCode, 1084);
    EXPECT_EQ(check.m_strMessage, L"GENERIC_FIX_FAIL");
    EXPECT_EQ(check.m_nStatus, 3);
    EXPECT_EQ(check.m_nButtons, 0x6A);
    EXPECT_EQ(m.hold, std::optional<bool>(true));
    EXPECT_FALSE(m.sim.Files().Exists(std::wstring(kStartup) + L"\\qvmonitr.exe"));
  }
}

// The ids were read by the diagnosis: a monitor that ended since fails the repair, and an id that
// another program took over is never ended.
TEST(MonitorIssue, StaleIdsAreNotEnded) {
  for (const bool reused : {false, true}) {
    SCOPED_TRACE(reused ? "taken over by another program" : "ended");
    Machine m;
    const std::uint32_t first = m.Run();
    const std::uint32_t second = m.Run();
    CKVDBVMIssue check = m.Check();
    ASSERT_EQ(check.Diagnose({}), 100015);
    m.sim.Process().EndProcess(first);
    if (reused) m.sim.Process().StartProcess(L"C:\\Users\\tester\\editor.exe", first);
    m.log.Take();
    EXPECT_EQ(check.Fix({}, 100015), 0);
    const auto records = m.log.Take();
    EXPECT_TRUE(SimLog::Contains(records, L"DB", L"Failed to kill BVM."));
    EXPECT_EQ(SimLog::Contains(records, L"##",
                               L"Process " + std::to_wstring(first) +
                                   L" is not the monitor any more: it is left "
                                   L"running."),
              reused);
    EXPECT_TRUE(m.sim.Process().Terminated().empty());
    EXPECT_EQ(m.sim.Process().Processes().size(), reused ? 2u : 1u);
    EXPECT_EQ(m.sim.Process().Processes().back().id, reused ? first : second);
    EXPECT_EQ(check.m_nErrorCode, 1084);
    EXPECT_EQ(m.hold, std::optional<bool>(true));
    EXPECT_TRUE(m.sim.Shell().Launches().empty());
    EXPECT_EQ(m.sim.Process().OpenProcessHandles(), 0u);
  }
}

TEST(MonitorIssue, Simulation) {
  Machine m;
  CKVDBVMIssue check = m.Check();
  struct Case {
    int simulated;
    const wchar_t* message;
    int status;
    int buttons;
  };
  for (const Case& c :
       {Case{100013, L"BVM_NOT_FOUND", 3, 0x62}, Case{100014, L"BVM_MULTIPLE", 3, 0x41},
        Case{100015, L"BVM_MULTIPLE", 3, 0x41}, Case{107, L"BVM_OK", 1, 0},
        Case{5, L"BVM_OK", 1, 0}}) {
    SCOPED_TRACE(c.simulated);
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
  }
}

}  // namespace
