// issues/: the thirteen checks, one class per file, and what only they use.
#pragma once

#include <string>

#include "platform/api/Handles.h"
#include "platform/api/Platform.h"

// One ICMP echo request to a host, through the system's IP helper library loaded at run time and
// Winsock 1.1. Built and released around a single Ping.
class CPing {
 public:
  explicit CPing(kvd::platform::Platform& platform);
  ~CPing();
  CPing(const CPing&) = delete;
  CPing& operator=(const CPing&) = delete;

  // A host name or dotted address: true when one echo request was answered within a second.
  bool Ping(const std::string& host);
  bool IsReady() const { return m_bReady; }

  // What the reply buffer holds: one reply, the request's data (none) and room for an ICMP
  // error, the least IcmpSendEcho documents.
  static constexpr std::uint32_t kReplyBytes =
      kvd::platform::icmp::kEchoReplyBytes + kvd::platform::icmp::kErrorBytes;
  static_assert(kReplyBytes >= kvd::platform::icmp::kEchoReplyBytes + 8,
                "below the documented least, a ping can fail for want of room");

 private:
  kvd::platform::Platform& m_platform;
  kvd::platform::UniqueLibrary m_hLibrary;
  kvd::platform::ProcAddress m_pfnCreateFile = 0;
  kvd::platform::ProcAddress m_pfnCloseHandle = 0;
  kvd::platform::ProcAddress m_pfnSendEcho = 0;
  bool m_bWinsockStarted = false;
  bool m_bReady = false;
};
