#include "issues/KVDConnectionIssue.h"

#include <vector>

#include "issues/Ping.h"
#include "logging/Trace.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "strings/StringTable.h"

KVD_TRACE_SOURCE();

namespace {

using namespace kvd::platform;
namespace kind = DUDiduzuz::kind;

constexpr int kUsbNotConnected = 1000;
constexpr int kNoAnswer = 1001;
constexpr int kFailedButtons = button::Navigation | button::Help | button::Restart;  // 88

// Host names are ASCII; anything else has no narrow form to resolve.
bool ToAscii(const std::wstring& text, std::string& out) {
  out.clear();
  for (const wchar_t c : text) {
    if (c <= 0 || c > 0x7F) return false;
    out.push_back(static_cast<char>(c));
  }
  return true;
}

}  // namespace

CKVDConnectionIssue::CKVDConnectionIssue(Platform& platform) : m_platform(platform) {
  m_strName = GlobalLag.GetString(L"CONNECTIVITY");
}

int CKVDConnectionIssue::Diagnose(const _DeviceDetails& device) {
  KVD_SCOPE(L"CKVDConnectionIssue::Diagnose");
  KVD_LOG(kind::Info, L"Diagnoses connection issue.");
  m_nStatus = issue::kStatusNotRun;
  m_nButtons = 0;
  bool connected = false;
  if (m_bSimulate) {
    connected = m_bSimulatePass;
    m_bSimulate = false;
    m_bSimulatePass = false;
  } else {
    connected =
        IsDeviceConnected(device.strInstanceId,
                          device.bNetwork ? device.strIpAddress : std::wstring(), device.bNetwork);
  }
  if (connected) {
    KVD_LOG(kind::Info, L"connection OK.");
    m_strMessage = GlobalLag.GetString(L"CONNECTION_OK");
    m_nStatus = issue::kStatusPassed;
    return issue::kPassed;
  }
  KVD_LOG(kind::Info, L"connection failed.");
  if (device.bNetwork) {
    m_strMessage = GlobalLag.GetString(L"NETWORK_NO_CONNECTION");
  } else {
    m_strMessage = GlobalLag.GetString(L"USB_NO_CONNECTION");
    m_nErrorCode = kUsbNotConnected;
  }
  m_nStatus = issue::kStatusFailed;
  m_nButtons = kFailedButtons;
  return 0;
}

int CKVDConnectionIssue::Fix(const _DeviceDetails&, int) {
  KVD_SCOPE(L"CKVDConnectionIssue::Fix");
  return 0;
}

bool CKVDConnectionIssue::IsDeviceConnected(const std::wstring& instanceId,
                                            const std::wstring& address, bool network) {
  KVD_SCOPE(L"CKVDConnectionIssue::IsDeviceConnected");
  KVD_LOG(kind::Debug, L"Checks if the the device is connected.");
  IDevices& devices = m_platform.devices;
  auto set = MakeUniqueDevInfoList(
      devices, devices.GetClassDevs(nullptr, nullptr, digcf::Present | digcf::AllClasses));
  if (!set.valid()) return false;
  bool connected = false;
  DevInfoData element;
  for (std::uint32_t index = 0; devices.EnumDeviceInfo(set.get(), index, &element); ++index) {
    std::uint32_t required = 0;
    devices.GetDeviceInstanceId(set.get(), element, nullptr, 0, &required);
    if (required == 0) continue;
    std::vector<wchar_t> id(required);
    if (!devices.GetDeviceInstanceId(set.get(), element, id.data(), required, &required)) {
      continue;
    }
    if (!EqualsNoCase(std::wstring(id.data()), instanceId)) continue;
    if (!network) {
      connected = true;
      break;
    }
    if (CheckConnection(address)) {
      connected = true;
      break;
    }
    m_nErrorCode = kNoAnswer;
  }
  return connected;
}

std::wstring CKVDConnectionIssue::HostOf(const std::wstring& address) {
  std::wstring lower = ToLowerOrdinal(address);
  const std::size_t marker = lower.find(L"ip=");
  if (marker == std::wstring::npos) return lower;
  const std::size_t start = marker + 3;
  // The first comma after the marker: one before it ("port=9100,ip=...") ends nothing.
  const std::size_t comma = lower.find(L',', start);
  return lower.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
}

bool CKVDConnectionIssue::CheckConnection(const std::wstring& address) {
  KVD_SCOPE(L"CKVDConnectionIssue::CheckConnection");
  KVD_LOG(kind::Debug, L"Checks  device connection for network device. IP: %s", address);
  const std::wstring host = HostOf(address);
  KVD_LOG(kind::Debug, L"IP: %s", host);
  std::string narrow;
  if (!ToAscii(host, narrow)) {
    KVD_LOG(kind::Error, L"Host Null");
    return false;
  }
  CPing ping(m_platform);
  return ping.Ping(narrow);
}
