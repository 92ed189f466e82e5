#pragma once

#include <string>

#include "engine/KVDIssue.h"
#include "platform/api/Platform.h"

// Check 0: is the device there at all? A USB device when its node is present, a network device
// when its node is present and its address answers a ping.
class CKVDConnectionIssue : public CKVDIssue {
 public:
  explicit CKVDConnectionIssue(kvd::platform::Platform& platform);

  int Diagnose(const _DeviceDetails& device) override;
  int Fix(const _DeviceDetails& device, int lastResult) override;
  void SetHandle(kvd::platform::WindowHandle) override {}

  bool IsDeviceConnected(const std::wstring& instanceId, const std::wstring& address, bool network);
  // An address text ("10.0.0.5", or "ip=10.0.0.5,port=9100" in any case) answers a ping.
  bool CheckConnection(const std::wstring& address);

  // The host named by an address text: after "ip=" up to the next ",", else the whole text.
  static std::wstring HostOf(const std::wstring& address);

 private:
  kvd::platform::Platform& m_platform;
};
