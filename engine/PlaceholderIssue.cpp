#include "engine/PlaceholderIssue.h"

#include "logging/Trace.h"
#include "strings/StringTable.h"
#include "system/Helper.h"

KVD_TRACE_SOURCE();

namespace {
// What the placeholder's Diagnose returns: not a pass, and none of the codes a real check uses.
constexpr int kNotBuilt = 108;
}  // namespace

CKVDPlaceholderIssue::CKVDPlaceholderIssue(const wchar_t* nameKey, bool watched,
                                           kvd::platform::Platform& platform)
    : m_strNameKey(nameKey), m_bWatched(watched), m_platform(platform) {
  m_strName = GlobalLag.GetString(m_strNameKey);
}

int CKVDPlaceholderIssue::Diagnose(const _DeviceDetails&) {
  KVD_SCOPE(L"CKVDPlaceholderIssue::Diagnose");
  m_nStatus = issue::kStatusNotRun;
  m_nButtons = 0;
  m_bSimulate = false;
  m_bSimulatePass = false;
  KVD_LOG(DUDiduzuz::kind::Info, L"The check %s is not built in this version.", m_strNameKey);
  m_nStatus = issue::kStatusFailed;
  // The run stops here and can always go on (Skip) or be left (Back, Retest, Close).
  m_nButtons = button::Skip | button::Navigation;
  m_strMessage = m_strName;
  m_nErrorCode = 0;
  if (m_bWatched) SignalListenEvent(m_platform.sync);
  return kNotBuilt;
}

int CKVDPlaceholderIssue::Fix(const _DeviceDetails&, int) {
  KVD_SCOPE(L"CKVDPlaceholderIssue::Fix");
  KVD_LOG(DUDiduzuz::kind::Info, L"The check %s is not built in this version.", m_strNameKey);
  return issue::kNotFixed;
}

void CKVDPlaceholderIssue::SetHandle(kvd::platform::WindowHandle) {}
