#include "platform/sim/SimServices.h"

#include <optional>

#include "platform/api/Text.h"

namespace kvd::sim {

namespace err = platform::err;
namespace svc = platform::svc;
using platform::ScHandle;

namespace {
constexpr std::uint32_t kServiceDoesNotExist = 1060;
constexpr std::uint32_t kServiceAlreadyRunning = 1056;
constexpr std::uint32_t kServiceDisabled = 1058;
constexpr std::uint32_t kServiceRequestTimeout = 1053;
constexpr std::uint32_t kInvalidServiceName = 123;

// The fixed size of QUERY_SERVICE_CONFIGW on a 32-bit process and the texts after it, as
// Windows counts what the configuration takes.
std::uint32_t BytesOf(const SimServices::Service& service, const std::wstring& name) {
  constexpr std::uint32_t kFixed = 36;
  const auto text = [](const std::wstring& t) {
    return static_cast<std::uint32_t>((t.size() + 1) * 2);
  };
  return kFixed + text(service.binaryPathName) +
         text(service.displayName.empty() ? name : service.displayName) + 2 /* load order group */ +
         4 /* dependencies */ + text(L"LocalSystem");
}
}  // namespace

ScHandle SimServices::OpenSCManager(const wchar_t* /*database*/, std::uint32_t access) {
  if (Faulted(calls_, errors_, "OpenSCManager")) return 0;
  std::lock_guard lock(mutex_);
  const ScHandle handle = calls_.NextHandle();
  opens_[handle] = Open{L"", access};
  return handle;
}

ScHandle SimServices::OpenService(ScHandle manager, const wchar_t* name, std::uint32_t access) {
  if (Faulted(calls_, errors_, "OpenService")) return 0;
  std::lock_guard lock(mutex_);
  auto it = opens_.find(manager);
  if (it == opens_.end() || !it->second.service.empty()) {
    errors_.SetThreadError(err::InvalidHandle);
    return 0;
  }
  if (name == nullptr || *name == L'\0') {
    errors_.SetThreadError(kInvalidServiceName);
    return 0;
  }
  const std::wstring key = platform::ToLowerOrdinal(name);
  if (services_.count(key) == 0) {
    errors_.SetThreadError(kServiceDoesNotExist);
    return 0;
  }
  const ScHandle handle = calls_.NextHandle();
  opens_[handle] = Open{key, access};
  return handle;
}

SimServices::Service* SimServices::ServiceLocked(ScHandle handle, std::uint32_t access) {
  auto it = opens_.find(handle);
  if (it == opens_.end() || it->second.service.empty()) {
    errors_.SetThreadError(err::InvalidHandle);
    return nullptr;
  }
  if ((it->second.access & access) != access) {
    errors_.SetThreadError(err::AccessDenied);
    return nullptr;
  }
  return &services_[it->second.service];
}

bool SimServices::QueryServiceConfig(ScHandle service, std::uint32_t bytes,
                                     platform::ServiceConfig* out, std::uint32_t* needed) {
  if (Faulted(calls_, errors_, "QueryServiceConfig")) return false;
  std::lock_guard lock(mutex_);
  Service* found = ServiceLocked(service, svc::ServiceQueryConfig);
  if (found == nullptr) return false;
  const std::wstring& name = opens_[service].service;
  const std::uint32_t size = BytesOf(*found, name);
  if (bytes < size) {
    if (needed != nullptr) *needed = size;
    errors_.SetThreadError(err::InsufficientBuffer);
    return false;
  }
  out->serviceType = found->serviceType;
  out->startType = found->startType;
  out->binaryPathName = found->binaryPathName;
  out->displayName = found->displayName.empty() ? name : found->displayName;
  return true;
}

bool SimServices::ChangeServiceStartType(ScHandle service, std::uint32_t serviceType,
                                         std::uint32_t startType) {
  if (Faulted(calls_, errors_, "ChangeServiceConfig")) return false;
  std::lock_guard lock(mutex_);
  Service* found = ServiceLocked(service, svc::ServiceChangeConfig);
  if (found == nullptr) return false;
  constexpr std::uint32_t kNoChange = 0xFFFFFFFFu;
  if (serviceType != kNoChange) found->serviceType = serviceType;
  if (startType != kNoChange) found->startType = startType;
  return true;
}

bool SimServices::QueryServiceStatus(ScHandle service, std::uint32_t* currentState) {
  if (Faulted(calls_, errors_, "QueryServiceStatus")) return false;
  std::lock_guard lock(mutex_);
  Service* found = ServiceLocked(service, svc::ServiceQueryStatus);
  if (found == nullptr) return false;
  *currentState = found->state;
  return true;
}

bool SimServices::StartService(ScHandle service) {
  if (Faulted(calls_, errors_, "StartService")) return false;
  std::lock_guard lock(mutex_);
  Service* found = ServiceLocked(service, svc::ServiceStart);
  if (found == nullptr) return false;
  if (found->startType == svc::Disabled) {
    errors_.SetThreadError(kServiceDisabled);
    return false;
  }
  if (found->state == svc::Running) {
    errors_.SetThreadError(kServiceAlreadyRunning);
    return false;
  }
  if (found->failsToStart) {
    errors_.SetThreadError(kServiceRequestTimeout);
    return false;
  }
  found->state = svc::Running;
  return true;
}

bool SimServices::CloseServiceHandle(ScHandle handle) {
  if (Faulted(calls_, errors_, "CloseServiceHandle")) return false;
  std::lock_guard lock(mutex_);
  if (opens_.erase(handle) == 0) {
    errors_.SetThreadError(err::InvalidHandle);
    return false;
  }
  return true;
}

void SimServices::Remove(const std::wstring& name) {
  std::lock_guard lock(mutex_);
  services_.erase(platform::ToLowerOrdinal(name));
}

void SimServices::Put(const std::wstring& name, Service service) {
  std::lock_guard lock(mutex_);
  services_[platform::ToLowerOrdinal(name)] = std::move(service);
}

std::optional<SimServices::Service> SimServices::Get(const std::wstring& name) const {
  std::lock_guard lock(mutex_);
  auto it = services_.find(platform::ToLowerOrdinal(name));
  if (it == services_.end()) return std::nullopt;
  return it->second;
}

std::size_t SimServices::OpenHandleCount() const {
  std::lock_guard lock(mutex_);
  return opens_.size();
}

}  // namespace kvd::sim
