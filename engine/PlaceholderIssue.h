#pragma once

#include <string>

#include "engine/KVDIssue.h"

// PLACEHOLDER: stands in the slot of a check that is not built in this version. It never
// passes: its Diagnose logs that the check is not built and fails (status 2, no buttons, error
// code 0); its Fix repairs nothing (111). Each check's own class replaces it in the manager's
// table when that check is built.
class CKVDPlaceholderIssue : public CKVDIssue {
 public:
  explicit CKVDPlaceholderIssue(const wchar_t* nameKey);
  int Diagnose(const _DeviceDetails& device) override;
  int Fix(const _DeviceDetails& device, int lastResult) override;
  void SetHandle(kvd::platform::WindowHandle window) override;

 private:
  std::wstring m_strNameKey;
};
