#pragma once

#include <cstdint>
#include <string>

#include "platform/api/Types.h"

namespace kvd::platform {

using ScHandle = std::uintptr_t;  // SC_HANDLE; 0 is "none"

// Service control manager values.
namespace svc {
inline constexpr std::uint32_t ScManagerAllAccess = 0xF003F;
inline constexpr std::uint32_t ServiceAllAccess = 0xF01FF;
inline constexpr std::uint32_t ServiceQueryConfig = 0x0001;
inline constexpr std::uint32_t ServiceChangeConfig = 0x0002;
inline constexpr std::uint32_t ServiceQueryStatus = 0x0004;
inline constexpr std::uint32_t ServiceStart = 0x0010;
inline constexpr std::uint32_t AutoStart = 2;
inline constexpr std::uint32_t DemandStart = 3;
inline constexpr std::uint32_t Disabled = 4;
inline constexpr std::uint32_t Stopped = 1;
inline constexpr std::uint32_t Running = 4;
}  // namespace svc

// QUERY_SERVICE_CONFIGW: the parts the program reads.
struct ServiceConfig {
  std::uint32_t serviceType = 0;
  std::uint32_t startType = 0;
  std::wstring binaryPathName;
  std::wstring displayName;
};

// The service control manager (advapi32). Failing calls set the last error.
class IServices {
 public:
  virtual ~IServices() = default;
  // OpenSCManagerW(nullptr (local machine), database, access): 0 on failure.
  virtual ScHandle OpenSCManager(const wchar_t* database, std::uint32_t access) = 0;
  // OpenServiceW(manager, name, access): 0 on failure (ERROR_SERVICE_DOES_NOT_EXIST 1060).
  virtual ScHandle OpenService(ScHandle manager, const wchar_t* name, std::uint32_t access) = 0;
  // QueryServiceConfigW(service, buffer of `bytes`, bytes, needed): with fewer bytes than the
  // configuration takes, false with ERROR_INSUFFICIENT_BUFFER and *needed set, as the two-step
  // read of Windows does; otherwise the configuration in *out.
  virtual bool QueryServiceConfig(ScHandle service, std::uint32_t bytes, ServiceConfig* out,
                                  std::uint32_t* needed) = 0;
  // ChangeServiceConfigW(service, serviceType, startType, SERVICE_NO_CHANGE, and no change for
  // everything else).
  virtual bool ChangeServiceStartType(ScHandle service, std::uint32_t serviceType,
                                      std::uint32_t startType) = 0;
  // QueryServiceStatus(service): its dwCurrentState.
  virtual bool QueryServiceStatus(ScHandle service, std::uint32_t* currentState) = 0;
  // StartServiceW(service, 0, nullptr).
  virtual bool StartService(ScHandle service) = 0;
  // CloseServiceHandle.
  virtual bool CloseServiceHandle(ScHandle handle) = 0;
};

}  // namespace kvd::platform
