// The scan-flow check: the suite's scan-flow manager (Tabbor) can run for the device. Its COM
// components are registered with their files, its executable and libraries are in the suite's
// bin folder, and the device carries the identifier Tabbor is started with. The scan
// destinations the suite's destination server knows are written to the trace log first. It has
// no repair.
#pragma once

#include <functional>
#include <string>

#include "engine/KVDIssue.h"
#include "platform/api/Platform.h"

class CKVDTabborIssue : public CKVDIssue {
 public:
  // Whether the Windows scan check and the TWAIN check passed in this run.
  struct Services {
    std::function<bool()> wiaPassed;
    std::function<bool()> twainPassed;
  };

  // The components, by class ID.
  static constexpr const wchar_t* kAmbrellTwain = L"{5A1C0E2B-7D43-4B9E-9C21-3F6A8E0D41B7}";
  static constexpr const wchar_t* kAmbrellScan = L"{6B2D1F3C-8E54-4CAF-AD32-406B9F1E52C8}";
  static constexpr const wchar_t* kTovrin = L"{2E6B9F41-D07C-4A35-9E8B-5C13F7A2D06E}";
  static constexpr const wchar_t* kTovrinSecond = L"{E6A5D756-A10E-42ef-9F12-3FB7121947E0}";

  explicit CKVDTabborIssue(kvd::platform::Platform& platform, Services services = {});

  // 107 when the scan flow is complete, 0 for any problem found.
  int Diagnose(const _DeviceDetails& device) override;
  // Nothing to repair: 1.
  int Fix(const _DeviceDetails& device, int lastResult) override;
  void SetHandle(kvd::platform::WindowHandle) override {}

  // Whether a component's registration names a file that exists: InprocServer32 for an
  // in-process one, else InprocHandler32 (not empty) and LocalServer32.
  bool IsComponentPresent(const std::wstring& classId, bool inProcess);
  // The destination server's scan destinations, into the trace log.
  void WriteDestinationLog();

  // Tabbor's command lines (a contract with the suite: every blank counts), with the device's
  // identifier.
  static std::wstring ScanCommandLine(const std::wstring& identifier);
  static std::wstring ButtonSettingsCommandLine(const std::wstring& identifier);

 private:
  void SetUI(const _DeviceDetails& device);

  kvd::platform::Platform& m_platform;
  Services m_services;
};
