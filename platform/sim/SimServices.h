#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/api/IServices.h"
#include "platform/sim/SimCommon.h"
#include "platform/sim/SimSystem.h"

namespace kvd::sim {

// The services the machine has, by name without case. Handles check the access they were opened
// with (ERROR_ACCESS_DENIED otherwise). A started service runs until told otherwise; a disabled
// one does not start (ERROR_SERVICE_DISABLED).
class SimServices final : public platform::IServices {
 public:
  struct Service {
    std::uint32_t serviceType = 0x10;  // SERVICE_WIN32_OWN_PROCESS
    std::uint32_t startType = platform::svc::DemandStart;
    std::uint32_t state = platform::svc::Stopped;
    std::wstring binaryPathName;
    std::wstring displayName;
    bool failsToStart = false;  // StartService answers ERROR_SERVICE_REQUEST_TIMEOUT
  };

  SimServices(SimCalls& calls, SimErrors& errors) : calls_(calls), errors_(errors) {}

  platform::ScHandle OpenSCManager(const wchar_t* database, std::uint32_t access) override;
  platform::ScHandle OpenService(platform::ScHandle manager, const wchar_t* name,
                                 std::uint32_t access) override;
  bool QueryServiceConfig(platform::ScHandle service, std::uint32_t bytes,
                          platform::ServiceConfig* out, std::uint32_t* needed) override;
  bool ChangeServiceStartType(platform::ScHandle service, std::uint32_t serviceType,
                              std::uint32_t startType) override;
  bool QueryServiceStatus(platform::ScHandle service, std::uint32_t* currentState) override;
  bool StartService(platform::ScHandle service) override;
  bool CloseServiceHandle(platform::ScHandle handle) override;

  // Set-up and inspection (not counted, never faulted).
  void Put(const std::wstring& name, Service service);
  // The service uninstalled: opening it fails with ERROR_SERVICE_DOES_NOT_EXIST.
  void Remove(const std::wstring& name);
  std::optional<Service> Get(const std::wstring& name) const;
  std::size_t OpenHandleCount() const;

 private:
  struct Open {
    std::wstring service;  // lower-case name; empty for the manager
    std::uint32_t access = 0;
  };
  Service* ServiceLocked(platform::ScHandle handle, std::uint32_t access);

  SimCalls& calls_;
  SimErrors& errors_;
  mutable std::mutex mutex_;
  std::map<std::wstring, Service> services_;  // by lower-case name
  std::map<platform::ScHandle, Open> opens_;
};

}  // namespace kvd::sim
