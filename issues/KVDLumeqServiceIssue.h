// The Lumeq service check: the maker's Windows service for Lumeq laser devices is there, not
// disabled and not stopped. The repair sets it to start automatically and starts it.
#pragma once

#include <functional>

#include "engine/KVDIssue.h"
#include "platform/api/Platform.h"

class CKVDLumeqServiceIssue : public CKVDIssue {
 public:
  // Whether the Windows scan check and the TWAIN check passed in this run: a problem is then a
  // warning.
  struct Services {
    std::function<bool()> wiaPassed;
    std::function<bool()> twainPassed;
  };

  static constexpr const wchar_t* kService = L"QV Lumeq Service";

  explicit CKVDLumeqServiceIssue(kvd::platform::Platform& platform, Services services = {});

  // 107 when the service is usable, 0 otherwise.
  int Diagnose(const _DeviceDetails& device) override;
  // 1 when the service was set to start automatically and runs, 0 otherwise.
  int Fix(const _DeviceDetails& device, int lastResult) override;
  void SetHandle(kvd::platform::WindowHandle) override {}

  void SetUI(bool usable);

 private:
  kvd::platform::Platform& m_platform;
  Services m_services;
};
