#include "issues/KVDLumeqServiceIssue.h"

#include <utility>

#include "issues/ServiceControl.h"
#include "logging/Trace.h"
#include "strings/StringTable.h"

KVD_TRACE_SOURCE();

namespace kind = DUDiduzuz::kind;
using kvd::service::Answer;
using kvd::service::Repair;

namespace {

constexpr int kNotOpened = 1091;
constexpr int kNotUsable = 1092;
constexpr int kNotStarted = 1093;

}  // namespace

CKVDLumeqServiceIssue::CKVDLumeqServiceIssue(kvd::platform::Platform& platform, Services services)
    : m_platform(platform), m_services(std::move(services)) {
  m_strName = GlobalLag.GetString(L"LUMEQ_SERVICE");
}

void CKVDLumeqServiceIssue::SetUI(bool usable) {
  if (usable) {
    m_strMessage = GlobalLag.GetString(L"LUMEQ_SERVICE_OK");
    m_nStatus = issue::kStatusPassed;
    return;
  }
  m_strMessage = GlobalLag.GetString(L"LUMEQ_SERVICE_ERROR");
  m_nButtons = button::Fix | button::Skip | button::Navigation;  // 0x43
  m_nStatus = issue::AnyPassed(m_services.wiaPassed, m_services.twainPassed) ? issue::kStatusWarning
                                                                             : issue::kStatusFailed;
}

int CKVDLumeqServiceIssue::Diagnose(const _DeviceDetails&) {
  KVD_SCOPE(L"CKVDLumeqServiceIssue::Diagnose");
  KVD_LOG(kind::Info, L"Diagnoses Lumeq Service.");
  if (m_bSimulate) {
    m_bSimulate = false;
    const bool pass = m_bSimulatePass;
    m_bSimulatePass = false;
    SetUI(pass);
    return pass ? issue::kPassed : 0;
  }
  switch (kvd::service::Ask(m_platform, kService, kvd::service::kGenericRead)) {
    case Answer::Usable:
      SetUI(true);
      return issue::kPassed;
    case Answer::ServiceNotOpened:
      KVD_LOG(kind::Debug, L"OpenService failed. Service : %s", kService);
      m_nErrorCode = kNotOpened;
      break;
    case Answer::NotUsable:
      m_nErrorCode = kNotUsable;
      break;
    case Answer::ManagerNotOpened:
    case Answer::NotQueried:
      m_nErrorCode = kNotOpened;
      break;
  }
  SetUI(false);
  return 0;
}

int CKVDLumeqServiceIssue::Fix(const _DeviceDetails&, int) {
  KVD_SCOPE(L"CKVDLumeqServiceIssue::Fix");
  KVD_LOG(kind::Debug, L"Fixes Lumeq Service Issue.");
  m_nStatus = issue::kStatusFailed;
  m_nButtons = button::Navigation | button::Help | button::Restart | button::Skip;  // 0x5A
  switch (kvd::service::StartAutomatically(m_platform, kService)) {
    case Repair::Started:
      m_platform.clock.Sleep(3000);
      // The green mark says what the text says: the service runs now.
      SetUI(true);
      m_nButtons = button::Navigation;
      return issue::kFixed;
    case Repair::ManagerNotOpened:
      KVD_LOG(kind::Debug, L"OpenSCManager failed.");
      m_nErrorCode = kNotOpened;
      break;
    case Repair::ServiceNotOpened:
      KVD_LOG(kind::Debug, L"OpenService failed. Service : %s", kService);
      m_nErrorCode = kNotOpened;
      break;
    case Repair::NotReconfigured:
      KVD_LOG(kind::Debug, L"ChangeServiceConfig failed for Lumeq Service.");
      m_nErrorCode = kNotOpened;
      break;
    case Repair::NotStarted:
      KVD_LOG(kind::Debug, L"Failed to start Lumeq Service.");
      m_nErrorCode = kNotStarted;
      break;
  }
  m_strMessage = GlobalLag.GetString(L"FIX_FAIL");
  m_nButtons = button::Navigation | button::Uninstall | button::Restart | button::Skip;  // 0x6A
  return 0;
}
