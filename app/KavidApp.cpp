#include "app/KavidApp.h"

#include "logging/Trace.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "strings/StringTable.h"
#include "system/Helper.h"

KVD_TRACE_SOURCE();

namespace {

using namespace kvd::platform;

void WriteDword(IRegistry& registry, HKey key, const wchar_t* name, std::uint32_t value) {
  const std::uint8_t bytes[4] = {
      static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
      static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  registry.SetValueEx(key, name, regtype::Dword, bytes, 4);
}

}  // namespace

CKavidApp::CKavidApp(Platform& platform) : m_platform(platform) {
  // No trace scope until the configuration below is written: the trace log reads its settings
  // at its first record, and a record before them would leave it without a file for a whole
  // poll interval.
  std::wstring modulePath;
  GrowAndRetry(modulePath, [&](wchar_t* buffer, std::uint32_t chars) {
    return m_platform.process.GetModuleFileName(0, buffer, chars);
  });
  const std::size_t slash = modulePath.rfind(L'\\');
  m_strExeName = slash == std::wstring::npos ? modulePath : modulePath.substr(slash + 1);

  std::wstring temp;
  if (!GrowAndRetry(temp, [&](wchar_t* buffer, std::uint32_t chars) {
        const std::uint32_t needed =
            m_platform.environment.ExpandEnvironmentStrings(L"%temp%", buffer, chars);
        return needed == 0 ? 0u : needed <= chars ? needed - 1 : needed;
      })) {
    temp = L"%temp%";
  }
  m_strLogFile = temp + L"\\qv_kvd.log";

  // After a restart the previous log is kept and continued. A second start, which the
  // single-instance gate ends a moment later, must not take the running instance's log away.
  FileAttributeData attributes;
  if (!IsRestartPending() && !AnotherInstanceRuns() &&
      m_platform.files.GetFileAttributesEx(m_strLogFile.c_str(), &attributes)) {
    m_platform.files.DeleteFile(m_strLogFile.c_str());
  }
  auto key = MakeUniqueHkey(m_platform.registry);
  const std::wstring keyPath = L"SOFTWARE\\QV\\NG\\Logging\\" + m_strExeName;
  if (m_platform.registry.CreateKeyEx(kHkeyCurrentUser, keyPath.c_str(),
                                      sam::Write | sam::Wow64_32Key, key.put(), nullptr) == 0) {
    // Written with its terminating NUL, as every text value of the program.
    const auto path = ToUtf16Bytes(m_strLogFile, true);
    m_platform.registry.SetValueEx(key.get(), L"LogFileName", regtype::Sz, path.data(),
                                   static_cast<std::uint32_t>(path.size()));
    WriteDword(m_platform.registry, key.get(), L"LogCategories", kLogCategories);
    WriteDword(m_platform.registry, key.get(), L"LogOptions", kLogOptions);
    WriteDword(m_platform.registry, key.get(), L"LogInfoDetailLevel", kLogInfoDetailLevel);
  }

  KVD_SCOPE(L"CKavidApp::CKavidApp");
  KVD_LOG(DUDiduzuz::kind::Info, L"Trace log : %s", m_strLogFile);
}

bool CKavidApp::InitInstance() {
  KVD_SCOPE(L"CKavidApp::InitInstance");
  // The texts of the system's language; without them every lookup yields empty text.
  GlobalLag.Bind(m_platform);
  GlobalLag.SetApplicationLanguage(&m_LangID);
  m_LangID = GetDefaultLanguage(m_platform.system);
  GlobalLag.m_LangID = m_LangID;
  if (!GlobalLag.LoadStrings()) KVD_LOG(DUDiduzuz::kind::Error, L"GlobalLag.Load() failed");

  KVD_LOG(DUDiduzuz::kind::Info, L"QV KVD Log File \r\n\r\n");
  // The single-instance, system and administrator gates, the diagnostic manager and the host
  // window are not part of this version: start-up ends here.
  KVD_LOG(DUDiduzuz::kind::Info,
          L"Start-up beyond the trace configuration and the texts is not built in this version.");
  return false;
}

bool CKavidApp::IsRestartPending() const { return CUtil(m_platform).IsRestartPending(); }

bool CKavidApp::AnotherInstanceRuns() const {
  auto mutex = MakeUniqueSync(m_platform.sync, m_platform.sync.CreateMutex(false, L"KVD_MUTEX"));
  return mutex.valid() && m_platform.errors.GetLastError() == err::AlreadyExists;
}
