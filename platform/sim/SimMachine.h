// platform/sim: the simulated machine behind the ports, for tests and demos; never shipped.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/api/Platform.h"
#include "platform/sim/SimComObjects.h"
#include "platform/sim/SimCommon.h"
#include "platform/sim/SimCrocan.h"
#include "platform/sim/SimDevices.h"
#include "platform/sim/SimFileSystem.h"
#include "platform/sim/SimGdi.h"
#include "platform/sim/SimProcess.h"
#include "platform/sim/SimRegistry.h"
#include "platform/sim/SimServices.h"
#include "platform/sim/SimSync.h"
#include "platform/sim/SimSystem.h"
#include "platform/sim/SimSystemFacts.h"
#include "platform/sim/SimTwain.h"
#include "platform/sim/SimWia.h"
#include "platform/sim/SimWindows.h"
#include "platform/sim/SimXml.h"
#include "platform/sim/VersionBlock.h"

namespace kvd::sim {

// One coherent machine: a 64-bit Windows 7 with user "tester", on which the 32-bit program
// C:\Program Files (x86)\Quvari\Kavid\kavid.exe runs (its file exists). Every sub-object
// implements one port and has set-up and inspection helpers whose names differ from the port
// methods; only calls through the port methods are counted and can be made to fail. Safe to use
// from many threads at once.
class SimMachine {
 public:
  SimMachine();
  SimMachine(const SimMachine&) = delete;
  SimMachine& operator=(const SimMachine&) = delete;

  platform::Platform& Ports() { return ports_; }
  SimRegistry& Registry() { return registry_; }
  SimFileSystem& Files() { return files_; }
  SimEnvironment& Environment() { return environment_; }
  SimProcess& Process() { return process_; }
  SimClock& Clock() { return clock_; }
  SimDebugOutput& Debug() { return debug_; }
  SimErrors& Errors() { return errors_; }
  SimSync& Sync() { return sync_; }
  SimXml& Xml() { return xml_; }
  SimSystemInfo& System() { return system_; }
  SimSecurity& Security() { return security_; }
  SimShell& Shell() { return shell_; }
  SimInstaller& Installer() { return installer_; }
  SimNetwork& Network() { return network_; }
  SimIniFiles& IniFiles() { return ini_; }
  SimWindows& Messages() { return windows_; }
  SimDevices& Devices() { return devices_; }
  SimModules& Modules() { return modules_; }
  SimHosts& Hosts() { return hosts_; }
  SimSockets& Sockets() { return sockets_; }
  SimIcmp& Icmp() { return icmp_; }
  SimGdi& Gdi() { return gdi_; }
  SimServices& Services() { return services_; }
  SimWia& Wia() { return wia_; }
  SimCrocan& Crocan() { return crocan_; }
  SimTwain& Twain() { return twain_; }
  SimComObjects& Com() { return com_; }

  // The n-th call (1 = the next one) from now of the port method named `method` (its name in
  // the interface: "OpenKeyEx", "CreateFile", "WaitForSingleObject", ...) fails with `code`:
  // an LStatus method returns it, a bool/handle/count method fails and sets it as last error,
  // an HRESULT method returns HRESULT_FROM_WIN32(code). persistent: that call and every later
  // one. "CloseHandle" is one method for files, mutexes and events, as it is one call on
  // Windows.
  // Methods that cannot fail on Windows (GetTickCount, Sleep, GetLastError, GetCommandLine,
  // ...) and unknown names throw std::invalid_argument, so that a misspelt name is not a fault
  // that silently never fires.
  void InjectFault(std::string_view method, int nth, std::uint32_t code, bool persistent = false);
  void ClearFaults();
  std::uint64_t CallCount(std::string_view method) const;  // calls through the ports only
  // A component that hangs: the nth next call of `method` (any port method) blocks its thread
  // until ReleaseHangs, then goes on as usual. HungCalls tells how many callers block now.
  void InjectHang(std::string_view method, int nth);
  void ReleaseHangs();
  std::size_t HungCalls() const;

 private:
  SimCalls calls_;
  SimErrors errors_;
  SimClock clock_;
  SimRegistry registry_;
  SimFileSystem files_;
  SimEnvironment environment_;
  SimProcess process_;
  SimDebugOutput debug_;
  SimSync sync_;
  SimXml xml_;
  SimSystemInfo system_;
  SimSecurity security_;
  SimShell shell_;
  SimInstaller installer_;
  SimNetwork network_;
  SimIniFiles ini_;
  SimDevices devices_;
  SimModules modules_;
  SimHosts hosts_;
  SimSockets sockets_;
  SimIcmp icmp_;
  SimGdi gdi_;
  SimServices services_;
  SimWia wia_;
  SimCrocan crocan_;
  SimTwain twain_;
  SimComObjects com_;
  // Last of the sub-objects, so that its UI thread has ended before anything a handler may use
  // is destroyed.
  SimWindows windows_;
  platform::Platform ports_;
};

}  // namespace kvd::sim
