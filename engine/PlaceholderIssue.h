#pragma once

#include <string>

#include "engine/KVDIssue.h"
#include "platform/api/Platform.h"

// PLACEHOLDER: stands in the slot of a check that is not built in this version. It never
// passes: its Diagnose logs that the check is not built and fails (status 2, no buttons, error
// code 0); its Fix repairs nothing (111). In a watched slot it signals "Listen_Event" when it
// ends, as the scanner checks do once their device interaction is over, so that no watchdog
// reports a hang for it. The check table's factory for the slot replaces it when the check is
// built.
class CKVDPlaceholderIssue : public CKVDIssue {
 public:
  CKVDPlaceholderIssue(const wchar_t* nameKey, bool watched, kvd::platform::Platform& platform);
  int Diagnose(const _DeviceDetails& device) override;
  int Fix(const _DeviceDetails& device, int lastResult) override;
  void SetHandle(kvd::platform::WindowHandle window) override;

 private:
  std::wstring m_strNameKey;
  bool m_bWatched;
  kvd::platform::Platform& m_platform;
};
