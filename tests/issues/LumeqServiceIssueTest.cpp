// The Lumeq service check against the machine's services: what each state of the service gives,
// the warning when a scan check passed, the repair and each way it can fail, every handle closed.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "issues/KVDLumeqServiceIssue.h"
#include "platform/sim/SimMachine.h"
#include "tests/support/SimLog.h"
#include "tests/support/SimStrings.h"

namespace {

namespace svc = kvd::platform::svc;
using kvd::sim::SimMachine;
using kvd::sim::SimServices;
constexpr const wchar_t* kService = L"QV Lumeq Service";
constexpr const wchar_t* kOpenFailed = L"OpenService failed. Service : QV Lumeq Service";

std::vector<std::pair<std::string, std::string>> Texts() {
  std::vector<std::pair<std::string, std::string>> texts = {{"LUMEQ_SERVICE", "Lumeq service"}};
  for (const char* key : {"LUMEQ_SERVICE_OK", "LUMEQ_SERVICE_ERROR", "FIX_FAIL"}) {
    texts.push_back({key, key});
  }
  return texts;
}

struct Machine {
  Machine() { EXPECT_TRUE(kvd::test::LoadTestStrings(sim, Texts())); }
  void Service(std::uint32_t startType, std::uint32_t state, bool failsToStart = false) {
    SimServices::Service service;
    service.startType = startType;
    service.state = state;
    service.failsToStart = failsToStart;
    sim.Services().Put(kService, service);
  }
  CKVDLumeqServiceIssue Check() {
    return CKVDLumeqServiceIssue(sim.Ports(),
                                 {[this] { return wiaPassed; }, [this] { return twainPassed; }});
  }

  SimMachine sim;
  kvd::test::SimLog log{sim};
  bool wiaPassed = false;
  bool twainPassed = false;
};

TEST(LumeqServiceIssue, WhatTheServiceGives) {
  using Setup = std::function<void(Machine&)>;
  struct Case {
    const char* name;
    Setup setup;
    int result;
    int status;
    int errorCode;
    const wchar_t* debug;  // a debug record that must be written, or null
  };
  const Case cases[] = {
      {"running, started automatically",
       [](Machine& m) { m.Service(svc::AutoStart, svc::Running); }, 107, 1, 0, nullptr},
      {"running on demand", [](Machine& m) { m.Service(svc::DemandStart, svc::Running); }, 107, 1,
       0, nullptr},
      {"missing", [](Machine&) {}, 0, 2, 1091, kOpenFailed},
      {"stopped", [](Machine& m) { m.Service(svc::AutoStart, svc::Stopped); }, 0, 2, 1092, nullptr},
      {"running but disabled", [](Machine& m) { m.Service(svc::Disabled, svc::Running); }, 0, 2,
       1092, nullptr},
      {"stopped, the Windows scan passed: a warning",
       [](Machine& m) {
         m.Service(svc::AutoStart, svc::Stopped);
         m.wiaPassed = true;
       },
       0, 3, 1092, nullptr},
      {"stopped, the TWAIN scan passed: a warning",
       [](Machine& m) {
         m.Service(svc::AutoStart, svc::Stopped);
         m.twainPassed = true;
       },
       0, 3, 1092, nullptr},
      {"no service control manager",
       [](Machine& m) {
         m.Service(svc::AutoStart, svc::Running);
         m.sim.InjectFault("OpenSCManager", 1, 5);
       },
       0, 2, 1091, nullptr},
      {"its configuration cannot be had",
       [](Machine& m) {
         m.Service(svc::AutoStart, svc::Running);
         m.sim.InjectFault("QueryServiceConfig", 1, 5);
       },
       0, 2, 1091, nullptr},
      {"its status cannot be had",
       [](Machine& m) {
         m.Service(svc::AutoStart, svc::Running);
         m.sim.InjectFault("QueryServiceStatus", 1, 5);
       },
       0, 2, 1091, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine m;
    c.setup(m);
    CKVDLumeqServiceIssue check = m.Check();
    EXPECT_EQ(check.m_strName, L"Lumeq service");
    m.log.Take();
    EXPECT_EQ(check.Diagnose({}), c.result);
    EXPECT_EQ(check.m_nStatus, c.status);
    EXPECT_EQ(check.m_nErrorCode, c.errorCode);
    EXPECT_EQ(check.m_strMessage, c.result == 107 ? L"LUMEQ_SERVICE_OK" : L"LUMEQ_SERVICE_ERROR");
    EXPECT_EQ(check.m_nButtons, c.result == 107 ? 0 : 0x43);
    const auto records = m.log.Take();
    EXPECT_TRUE(kvd::test::SimLog::Contains(records, L"I0", L"Diagnoses Lumeq Service."));
    if (c.debug != nullptr) {
      EXPECT_TRUE(kvd::test::SimLog::Contains(records, L"DB", c.debug)) << c.debug;
    }
    EXPECT_EQ(m.sim.Services().OpenHandleCount(), 0u);
  }
}

TEST(LumeqServiceIssue, TheRepair) {
  using Setup = std::function<void(Machine&)>;
  struct Case {
    const char* name;
    Setup setup;
    int result;
    int errorCode;         // 0: left as it was
    const wchar_t* debug;  // a debug record that must be written, or null
  };
  const Case cases[] = {
      {"stopped: started", [](Machine& m) { m.Service(svc::AutoStart, svc::Stopped); }, 1, 0,
       nullptr},
      {"disabled and stopped: set to start automatically, and started",
       [](Machine& m) { m.Service(svc::Disabled, svc::Stopped); }, 1, 0, nullptr},
      // It runs once it may start automatically: usable, whatever StartService says of it.
      {"disabled but running: set to start automatically",
       [](Machine& m) { m.Service(svc::Disabled, svc::Running); }, 1, 0, nullptr},
      {"refuses to start", [](Machine& m) { m.Service(svc::DemandStart, svc::Stopped, true); }, 0,
       1093, L"Failed to start Lumeq Service."},
      {"missing", [](Machine&) {}, 0, 1091, kOpenFailed},
      {"its start type cannot be changed",
       [](Machine& m) {
         m.Service(svc::DemandStart, svc::Stopped);
         m.sim.InjectFault("ChangeServiceConfig", 1, 5);
       },
       0, 1091, L"ChangeServiceConfig failed for Lumeq Service."},
      {"no service control manager",
       [](Machine& m) {
         m.Service(svc::DemandStart, svc::Stopped);
         m.sim.InjectFault("OpenSCManager", 1, 5);
       },
       0, 1091, L"OpenSCManager failed."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine m;
    c.setup(m);
    CKVDLumeqServiceIssue check = m.Check();
    check.m_nErrorCode = 7;
    m.log.Take();
    EXPECT_EQ(check.Fix({}, 0), c.result);
    const auto records = m.log.Take();
    EXPECT_TRUE(kvd::test::SimLog::Contains(records, L"DB", L"Fixes Lumeq Service Issue."));
    if (c.debug != nullptr) {
      EXPECT_TRUE(kvd::test::SimLog::Contains(records, L"DB", c.debug)) << c.debug;
    }
    EXPECT_EQ(m.sim.Services().OpenHandleCount(), 0u);
    if (c.result == 1) {
      EXPECT_EQ(check.m_nStatus, 1);
      EXPECT_EQ(check.m_strMessage, L"LUMEQ_SERVICE_OK");
      EXPECT_EQ(check.m_nButtons, 0x40);
      EXPECT_EQ(check.m_nErrorCode, 7);
      const auto service = m.sim.Services().Get(kService);
      ASSERT_TRUE(service.has_value());
      EXPECT_EQ(service->startType, svc::AutoStart);
      EXPECT_EQ(service->state, svc::Running);
      const auto sleeps = m.sim.Clock().Sleeps();
      EXPECT_NE(std::find(sleeps.begin(), sleeps.end(), 3000u), sleeps.end());
    } else {
      EXPECT_EQ(check.m_nStatus, 2);
      EXPECT_EQ(check.m_strMessage, L"FIX_FAIL");
      EXPECT_EQ(check.m_nButtons, 0x6A);
      EXPECT_EQ(check.m_nErrorCode, c.errorCode);
    }
  }
}

TEST(LumeqServiceIssue, Simulation) {
  Machine m;
  CKVDLumeqServiceIssue check = m.Check();
  for (const bool pass : {true, false}) {
    check.m_bSimulate = true;
    check.m_bSimulatePass = pass;
    EXPECT_EQ(check.Diagnose({}), pass ? 107 : 0);
    EXPECT_FALSE(check.m_bSimulate);
    EXPECT_FALSE(check.m_bSimulatePass);
    EXPECT_EQ(check.m_strMessage, pass ? L"LUMEQ_SERVICE_OK" : L"LUMEQ_SERVICE_ERROR");
    EXPECT_EQ(check.m_nErrorCode, 0);  // a simulated problem has no code
  }
  EXPECT_EQ(m.sim.CallCount("OpenSCManager"), 0u);
}

}  // namespace
