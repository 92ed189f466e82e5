// The Dashra hub check: the suite's device hub is installed completely, and whether it needs one
// of the two known patches. It finds the suite's folder from the registry, and puts the folder
// values back from the suite's uninstall entry when they are missing. It has no repair of its
// own: a patch is downloaded through the Patch button.
#pragma once

#include <functional>
#include <string>

#include "engine/KVDIssue.h"
#include "platform/api/Platform.h"

class CKVDDashraIssue : public CKVDIssue {
 public:
  // What this check tells the program: whether the hub is present (the front-panel check reads
  // it), and whether the Patch button opens the destination patch.
  struct Services {
    std::function<void(bool)> dashraPresent;
    std::function<void(bool)> destPatchNeeded;
  };

  static constexpr const wchar_t* kProductKey =
      L"SOFTWARE\\Quvari\\{A827E665-B0FE-4E0E-9BF1-535F0E833E85}";

  explicit CKVDDashraIssue(kvd::platform::Platform& platform, Services services = {});

  // 107 when the hub is complete and needs no patch; 112 for the tablet patch, 113 for the
  // destination patch; 0 when the hub or its functions library is missing; a simulated case as
  // it is.
  int Diagnose(const _DeviceDetails& device) override;
  // Nothing to repair: 1.
  int Fix(const _DeviceDetails& device, int lastResult) override;
  void SetHandle(kvd::platform::WindowHandle) override {}

  // The suite's folder from its uninstall entry, written back as the suite's folder values. True
  // when the entry was found and the registry writes were tried; `path` is empty otherwise.
  bool GetDashraInstallPath(std::wstring& path);

  // Set when the folder values were written back: the next pass says so once.
  bool m_bPathRepaired = false;

 private:
  // The binaries folder, with its trailing backslash.
  std::wstring BinariesFolder();
  int PatchNeeded(const std::wstring& bin);
  // The row of `result`; the trace record it calls for, if any.
  const wchar_t* SetOutcome(int result, bool incomplete);

  kvd::platform::Platform& m_platform;
  Services m_services;
};
