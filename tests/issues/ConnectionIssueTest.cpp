// The connection check and the ping over scenario machines.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "discovery/Scanners.h"
#include "issues/KVDConnectionIssue.h"
#include "issues/Ping.h"
#include "platform/api/Text.h"
#include "platform/sim/SimMachine.h"
#include "tests/support/ScenarioSim.h"
#include "tests/support/SimLog.h"
#include "tests/support/SimStrings.h"

namespace {

using kvd::platform::InAddr;

class Connection : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kvd::test::LoadTestStrings(sim_, {{"CONNECTIVITY", "Connectivity"},
                                                  {"CONNECTION_OK", "ok-text"},
                                                  {"USB_NO_CONNECTION", "usb-text"},
                                                  {"NETWORK_NO_CONNECTION", "network-text"}}));
  }

  // The devices enumeration finds on the scenario machine.
  std::vector<_DeviceDetails> Devices(std::initializer_list<const char*> scenarios) {
    for (const char* name : scenarios) kvd::test::ApplyNamed(name, sim_);
    std::vector<_DeviceDetails> devices;
    CScanners(sim_.Ports()).EnumerateScanners(devices);
    return devices;
  }

  bool Logged(const std::wstring& tag, const std::wstring& text) {
    return kvd::test::SimLog::Contains(log_.Take(), tag, text);
  }

  kvd::sim::SimMachine sim_;
  kvd::test::SimLog log_{sim_};
  CKVDConnectionIssue check_{sim_.Ports()};
};

TEST_F(Connection, OutcomesOfPresenceAndPing) {
  struct Case {
    const char* name;
    const char* scenario;
    bool answers;
    int result;
    int status;
    std::wstring message;
    int errorCode;
    int buttons;
  };
  const Case cases[] = {
      {"USB device plugged in", "usb-aio-composite.xml", true, 107, 1, L"ok-text", 0, 0},
      {"USB device unplugged", "usb-aio-unplugged.xml", true, 0, 2, L"usb-text", 1000, 88},
      {"network device answers", "network-lumeq.xml", true, 107, 1, L"ok-text", 0, 0},
      {"network device silent", "network-lumeq.xml", false, 0, 2, L"network-text", 1001, 88},
      {"ip= text answers", "network-aio.xml", true, 107, 1, L"ok-text", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kvd::sim::SimMachine sim;
    kvd::test::SimLog log(sim);
    ASSERT_TRUE(kvd::test::LoadTestStrings(sim, {{"CONNECTION_OK", "ok-text"},
                                                 {"USB_NO_CONNECTION", "usb-text"},
                                                 {"NETWORK_NO_CONNECTION", "network-text"}}));
    kvd::test::ApplyNamed(c.scenario, sim);
    std::vector<_DeviceDetails> devices;
    CScanners(sim.Ports()).EnumerateScanners(devices);
    ASSERT_FALSE(devices.empty());
    const _DeviceDetails& device = devices.front();
    if (!c.answers) {
      sim.Hosts().SetAnswers(
          kvd::sim::SimHosts::Parse(kvd::platform::NarrowUtf8(device.strIpAddress)), false);
    }
    CKVDConnectionIssue check(sim.Ports());
    const std::uint32_t before = sim.Clock().GetTickCount();
    EXPECT_EQ(check.Diagnose(device), c.result);
    EXPECT_EQ(check.m_nStatus, c.status);
    EXPECT_EQ(check.m_strMessage, c.message);
    EXPECT_EQ(check.m_nErrorCode, c.errorCode);
    EXPECT_EQ(check.m_nButtons, c.buttons);
    // A silent host costs the request's one-second timeout, nothing more.
    EXPECT_EQ(sim.Clock().GetTickCount() - before, c.answers ? 0u : 1000u);
    EXPECT_EQ(check.Fix(device, c.result), 0);
    const auto records = log.Take();
    EXPECT_TRUE(kvd::test::SimLog::Contains(records, L"I0", L"Diagnoses connection issue."));
    EXPECT_TRUE(kvd::test::SimLog::Contains(
        records, L"I0", c.result == 107 ? L"connection OK." : L"connection failed."));
    // Every resource of the ping is given back.
    EXPECT_EQ(sim.Devices().OpenSetCount(), 0u);
    EXPECT_EQ(sim.Icmp().OpenHandleCount(), 0u);
    EXPECT_EQ(sim.Sockets().StartedCount(), 0);
    EXPECT_EQ(sim.Modules().LoadedCount(), 0);
  }
}

// A network device that is not present at all is never pinged and keeps the error code of an
// earlier run (0 on the first).
TEST_F(Connection, AnAbsentNetworkDeviceIsNotPinged) {
  auto devices = Devices({"network-lumeq.xml"});
  ASSERT_EQ(devices.size(), 1u);
  sim_.Devices().SetPresent(devices[0].strInstanceId, false);
  EXPECT_EQ(check_.Diagnose(devices[0]), 0);
  EXPECT_EQ(check_.m_nErrorCode, 0);
  EXPECT_EQ(check_.m_strMessage, L"network-text");
  EXPECT_TRUE(sim_.Icmp().Requests().empty());
  check_.m_nErrorCode = 1001;
  check_.Diagnose(devices[0]);
  EXPECT_EQ(check_.m_nErrorCode, 1001);
}

TEST_F(Connection, SimulatedOutcomesTouchNothing) {
  _DeviceDetails network;
  network.bNetwork = true;
  network.strInstanceId = L"ROOT\\IMAGE\\0000";
  for (const bool pass : {false, true}) {
    for (const bool isNetwork : {false, true}) {
      network.bNetwork = isNetwork;
      check_.m_bSimulate = true;
      check_.m_bSimulatePass = pass;
      EXPECT_EQ(check_.Diagnose(network), pass ? 107 : 0);
      EXPECT_EQ(check_.m_strMessage,
                pass ? L"ok-text" : (isNetwork ? L"network-text" : L"usb-text"));
      EXPECT_FALSE(check_.m_bSimulate);
      EXPECT_FALSE(check_.m_bSimulatePass);
    }
  }
  EXPECT_EQ(sim_.CallCount("GetClassDevs"), 0u);
  // Named from the table loaded before it was made.
  EXPECT_EQ(CKVDConnectionIssue(sim_.Ports()).m_strName, L"Connectivity");
}

TEST_F(Connection, HostOfAnAddressText) {
  struct Case {
    std::wstring address;
    std::wstring host;
  };
  const Case cases[] = {
      {L"ip=10.0.0.5,port=9100", L"10.0.0.5"},
      {L"IP=10.0.0.5,Port=9100", L"10.0.0.5"},
      {L"10.0.0.5", L"10.0.0.5"},
      {L"port=9100,ip=10.0.0.5", L"10.0.0.5"},
      {L"ip=Scanner.Example,port=1", L"scanner.example"},
      {L"ip=", L""},
      {L"", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(kvd::platform::NarrowUtf8(c.address));
    EXPECT_EQ(CKVDConnectionIssue::HostOf(c.address), c.host);
  }
}

// Both address forms ping the same host; names resolve; an empty or unknown host fails without
// an echo request.
TEST_F(Connection, HostsAndTheirLookups) {
  sim_.Hosts().AddHost("scanner.example", {kvd::sim::SimHosts::Parse("10.0.0.5")});
  sim_.Hosts().SetAnswers(kvd::sim::SimHosts::Parse("10.0.0.5"), true);
  EXPECT_TRUE(check_.CheckConnection(L"ip=10.0.0.5,port=9100"));
  EXPECT_TRUE(check_.CheckConnection(L"10.0.0.5"));
  EXPECT_TRUE(check_.CheckConnection(L"IP=Scanner.Example"));
  const InAddr expected = kvd::sim::SimHosts::Parse("10.0.0.5");
  EXPECT_EQ(sim_.Icmp().Requests(), (std::vector<InAddr>{expected, expected, expected}));
  log_.Take();

  for (const wchar_t* address : {L"ip=", L"ip=no-such-host.invalid", L"ip=sc\u00e4nner"}) {
    SCOPED_TRACE(kvd::platform::NarrowUtf8(address));
    EXPECT_FALSE(check_.CheckConnection(address));
    EXPECT_TRUE(Logged(L"##", L"Host Null"));
  }
  EXPECT_EQ(sim_.Icmp().Requests().size(), 3u);
  EXPECT_TRUE(check_.CheckConnection(L"ip=10.0.0.5"));
  EXPECT_TRUE(Logged(L"DB", L"Checks  device connection for network device. IP: ip=10.0.0.5"));
}

// The usual case on a LAN: a device that answers but has no reverse entry. The lookup of its
// address fails, the name lookup of the same text finds it, and it is pinged.
TEST_F(Connection, AnAddressWithoutAReverseEntryIsLookedUpAgainByName) {
  const InAddr address = kvd::sim::SimHosts::Parse("10.0.0.7");
  sim_.Hosts().SetAnswers(address, true);
  sim_.Hosts().SetReverseEntry(address, false);
  EXPECT_TRUE(check_.CheckConnection(L"10.0.0.7"));
  EXPECT_EQ(sim_.CallCount("gethostbyaddr"), 1u);
  EXPECT_EQ(sim_.CallCount("gethostbyname"), 1u);
  EXPECT_EQ(sim_.Icmp().Requests(), std::vector<InAddr>{address});
}

// A reply that is no success (a router's "host unreachable") is no answer.
TEST_F(Connection, AReplyThatIsNoSuccessIsNoAnswer) {
  const InAddr address = kvd::sim::SimHosts::Parse("10.0.0.8");
  sim_.Hosts().SetAnswers(address, true);
  sim_.Hosts().SetReplyStatus(address, 11003);  // IP_DEST_HOST_UNREACHABLE
  log_.Take();
  EXPECT_FALSE(check_.CheckConnection(L"ip=10.0.0.8,port=9100"));
  EXPECT_TRUE(Logged(L"##", L"Status Null"));
  EXPECT_EQ(sim_.Icmp().OpenHandleCount(), 0u);
}

// The library comes from the system folder by its full path, never from beside the program.
TEST_F(Connection, TheIcmpLibraryIsLoadedFromTheSystemFolderOnly) {
  sim_.Modules().AddLibrary(L"C:\\Program Files (x86)\\Quvari\\Kavid\\Iphlpapi.dll",
                            {"IcmpCreateFile", "IcmpCloseHandle", "IcmpSendEcho"});
  {
    CPing ping(sim_.Ports());
    EXPECT_TRUE(ping.IsReady());
    EXPECT_TRUE(ping.Ping("127.0.0.1"));
  }
  EXPECT_EQ(sim_.Modules().LoadedPaths(),
            (std::vector<std::wstring>{L"C:\\Windows\\system32\\iphlpapi.dll"}));
}

// Whatever part of the set-up fails, the object is not ready, pings nothing and gives back what
// it took; each failing step of a ping has its log line.
TEST_F(Connection, PingFailures) {
  struct Setup {
    const char* name;
    const char* method;
    std::uint32_t code;
  };
  const Setup setups[] = {
      {"no system folder", "GetSystemDirectory", 5},
      {"no library", "LoadLibrary", 126},
      {"an entry missing", "GetProcAddress", 127},
      {"no Winsock", "WSAStartup", 10091},
  };
  for (const Setup& s : setups) {
    SCOPED_TRACE(s.name);
    sim_.InjectFault(s.method, 1, s.code);
    {
      CPing ping(sim_.Ports());
      EXPECT_FALSE(ping.IsReady());
      EXPECT_FALSE(ping.Ping("127.0.0.1"));
    }
    sim_.ClearFaults();
    EXPECT_EQ(sim_.Modules().LoadedCount(), 0);
    EXPECT_EQ(sim_.Sockets().StartedCount(), 0);
  }
  EXPECT_TRUE(sim_.Icmp().Requests().empty());

  struct Step {
    const char* method;
    std::uint32_t code;
    std::wstring line;
  };
  const Step steps[] = {
      {"IcmpCreateFile", 5, L"Unable to open ICMP handle - 5"},
      {"IcmpSendEcho", 11010, L"Call to IcmpSendEcho failed - 11010"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.method);
    log_.Take();
    sim_.InjectFault(step.method, 1, step.code);
    EXPECT_FALSE(CPing(sim_.Ports()).Ping("127.0.0.1"));
    EXPECT_TRUE(Logged(L"##", step.line));
    EXPECT_EQ(sim_.Icmp().OpenHandleCount(), 0u);
  }
}

}  // namespace
