#include "issues/ServiceControl.h"

#include "platform/api/Handles.h"

namespace kvd::service {

namespace {

namespace svc = kvd::platform::svc;
constexpr std::uint32_t kNoChange = 0xFFFFFFFF;  // SERVICE_NO_CHANGE
constexpr std::uint32_t kServiceAlreadyRunning = 1056;

}  // namespace

Answer Ask(kvd::platform::Platform& platform, const wchar_t* name, std::uint32_t managerAccess) {
  kvd::platform::IServices& services = platform.services;
  const auto manager = kvd::platform::MakeUniqueScHandle(
      services, services.OpenSCManager(L"ServicesActive", managerAccess));
  if (!manager.valid()) return Answer::ManagerNotOpened;
  const auto service = kvd::platform::MakeUniqueScHandle(
      services, services.OpenService(manager.get(), name, svc::ServiceAllAccess));
  if (!service.valid()) return Answer::ServiceNotOpened;
  kvd::platform::ServiceConfig config;
  std::uint32_t needed = 0;
  if (services.QueryServiceConfig(service.get(), 0, &config, &needed) ||
      platform.errors.GetLastError() != kvd::platform::err::InsufficientBuffer ||
      !services.QueryServiceConfig(service.get(), needed, &config, &needed)) {
    return Answer::NotQueried;
  }
  std::uint32_t state = 0;
  if (!services.QueryServiceStatus(service.get(), &state)) return Answer::NotQueried;
  if (state == svc::Stopped || config.startType == svc::Disabled) return Answer::NotUsable;
  return Answer::Usable;
}

Repair StartAutomatically(kvd::platform::Platform& platform, const wchar_t* name) {
  kvd::platform::IServices& services = platform.services;
  const auto manager = kvd::platform::MakeUniqueScHandle(
      services, services.OpenSCManager(L"ServicesActive", svc::ScManagerAllAccess));
  if (!manager.valid()) return Repair::ManagerNotOpened;
  const auto service = kvd::platform::MakeUniqueScHandle(
      services, services.OpenService(manager.get(), name, svc::ServiceAllAccess));
  if (!service.valid()) return Repair::ServiceNotOpened;
  if (!services.ChangeServiceStartType(service.get(), kNoChange, svc::AutoStart)) {
    return Repair::NotReconfigured;
  }
  if (!services.StartService(service.get()) &&
      platform.errors.GetLastError() != kServiceAlreadyRunning) {
    return Repair::NotStarted;
  }
  return Repair::Started;
}

}  // namespace kvd::service
