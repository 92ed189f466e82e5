#include "issues/Ping.h"

#include "logging/Trace.h"
#include "platform/api/Text.h"

KVD_TRACE_SOURCE();

namespace {

using namespace kvd::platform;
namespace kind = DUDiduzuz::kind;

constexpr std::uint16_t kWinsock11 = 0x0101;
constexpr std::uint32_t kTimeoutMs = 1000;

}  // namespace

CPing::CPing(Platform& platform) : m_platform(platform) {
  KVD_SCOPE(L"CPing::CPing");
  // By its full path in the system folder: a bare name would let the program's or the current
  // folder supply the library to an administrator's process.
  std::wstring system;
  if (!GrowAndRetry(system, [&](wchar_t* buffer, std::uint32_t chars) {
        return platform.modules.GetSystemDirectory(buffer, chars);
      })) {
    KVD_LOG(kind::Debug, L"GetSystemDirectory failed - %d",
            static_cast<std::int64_t>(platform.errors.GetLastError()));
    return;
  }
  const std::wstring path = system + L"\\Iphlpapi.dll";
  m_hLibrary = MakeUniqueLibrary(platform.modules, platform.modules.LoadLibrary(path.c_str()));
  if (!m_hLibrary.valid()) {
    KVD_LOG(kind::Debug, L"Failed to load the library %s - %d", path,
            static_cast<std::int64_t>(platform.errors.GetLastError()));
    return;
  }
  m_pfnCreateFile = platform.modules.GetProcAddress(m_hLibrary.get(), "IcmpCreateFile");
  m_pfnCloseHandle = platform.modules.GetProcAddress(m_hLibrary.get(), "IcmpCloseHandle");
  m_pfnSendEcho = platform.modules.GetProcAddress(m_hLibrary.get(), "IcmpSendEcho");
  if (m_pfnCreateFile != 0 && m_pfnCloseHandle != 0 && m_pfnSendEcho != 0) {
    WsaData data;
    m_bWinsockStarted = platform.sockets.WSAStartup(kWinsock11, &data) == 0;
    m_bReady = m_bWinsockStarted && data.version == kWinsock11;
  }
  if (!m_bReady) {
    if (m_bWinsockStarted) platform.sockets.WSACleanup();
    m_bWinsockStarted = false;
    m_hLibrary.reset();
  }
}

CPing::~CPing() {
  KVD_SCOPE(L"CPing::~CPing");
  if (m_bWinsockStarted) m_platform.sockets.WSACleanup();
}

bool CPing::Ping(const std::string& host) {
  KVD_SCOPE(L"CPing::Ping");
  if (!m_bReady) return false;
  // Windows resolves an empty name to this computer, which would always answer.
  std::vector<InAddr> addresses;
  if (!host.empty()) {
    ISockets& sockets = m_platform.sockets;
    const InAddr dotted = sockets.inet_addr(host.c_str());
    const bool found = dotted == kInaddrNone ? sockets.gethostbyname(host.c_str(), &addresses)
                                             : sockets.gethostbyaddr(dotted, &addresses);
    if (!found || addresses.empty()) sockets.gethostbyname(host.c_str(), &addresses);
  }
  if (addresses.empty()) {
    KVD_LOG(kind::Error, L"Host Null");
    return false;
  }
  IIcmp& icmp = m_platform.icmp;
  const IcmpHandle handle = icmp.IcmpCreateFile(m_pfnCreateFile);
  if (handle == kInvalidIcmpHandle) {
    KVD_LOG(kind::Error, L"Unable to open ICMP handle - %d",
            static_cast<std::int64_t>(m_platform.errors.GetLastError()));
    return false;
  }
  EchoReply reply;
  const IpOptions options{255, 0, 0};
  const std::uint32_t replies = icmp.IcmpSendEcho(m_pfnSendEcho, handle, addresses.front(), 0,
                                                  options, kReplyBytes, kTimeoutMs, &reply);
  bool answered = false;
  if (replies == 0) {
    KVD_LOG(kind::Error, L"Call to IcmpSendEcho failed - %d",
            static_cast<std::int64_t>(m_platform.errors.GetLastError()));
  } else if (reply.status != icmp::IpSuccess) {
    KVD_LOG(kind::Error, L"Status Null");
  } else {
    answered = true;
  }
  icmp.IcmpCloseHandle(m_pfnCloseHandle, handle);
  return answered;
}
