#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/api/IModules.h"
#include "platform/api/Types.h"

namespace kvd::platform {

// An IPv4 address as inet_addr answers it: network byte order in memory, read as one number.
using InAddr = std::uint32_t;
inline constexpr InAddr kInaddrNone = 0xFFFFFFFFu;

// The fields of WSADATA the program reads.
struct WsaData {
  std::uint16_t version = 0;  // the version granted: low byte major, high byte minor
  std::uint16_t highVersion = 0;
};

// Winsock 1.1 (ws2_32). Results as the functions return them; WSAGetLastError's code is the
// thread's last error.
class ISockets {
 public:
  virtual ~ISockets() = default;
  // WSAStartup(version, data): 0 on success, else the error.
  virtual int WSAStartup(std::uint16_t version, WsaData* data) = 0;
  // WSACleanup(): 0 on success.
  virtual int WSACleanup() = 0;
  // inet_addr(text): INADDR_NONE when the text is not a dotted address.
  virtual InAddr inet_addr(const char* text) = 0;
  // gethostbyname(name): false when nothing was found, else the host's IPv4 addresses (h_addr_list)
  // in the order given.
  virtual bool gethostbyname(const char* name, std::vector<InAddr>* addresses) = 0;
  // gethostbyaddr(address, 4, AF_INET): the same shape.
  virtual bool gethostbyaddr(InAddr address, std::vector<InAddr>* addresses) = 0;
};

using IcmpHandle = std::uintptr_t;  // the HANDLE IcmpCreateFile answers
inline constexpr IcmpHandle kInvalidIcmpHandle = ~static_cast<IcmpHandle>(0);

// IP_OPTION_INFORMATION without the options data.
struct IpOptions {
  std::uint8_t ttl = 0;
  std::uint8_t tos = 0;
  std::uint8_t flags = 0;
};

// The first ICMP_ECHO_REPLY of a reply buffer.
struct EchoReply {
  InAddr address = 0;
  std::uint32_t status = 0;  // IP_SUCCESS 0, IP_REQ_TIMED_OUT 11010, ...
  std::uint32_t roundTripMs = 0;
};

namespace icmp {
// sizeof(ICMP_ECHO_REPLY): 28 bytes in a 32-bit process, 40 in a 64-bit one (two pointers).
inline constexpr std::uint32_t kEchoReplyBytes = sizeof(void*) == 8 ? 40 : 28;
// What IcmpSendEcho needs beyond the reply and the request data: room for an ICMP error.
inline constexpr std::uint32_t kErrorBytes = 8;
inline constexpr std::uint32_t IpSuccess = 0;
inline constexpr std::uint32_t IpBufTooSmall = 11001;
inline constexpr std::uint32_t IpReqTimedOut = 11010;
}  // namespace icmp

// The ICMP functions of the IP helper library, called through the entries IModules handed out
// for it, so that the program decides which file they come from.
class IIcmp {
 public:
  virtual ~IIcmp() = default;
  // IcmpCreateFile through `entry`: kInvalidIcmpHandle on failure (last error set).
  virtual IcmpHandle IcmpCreateFile(ProcAddress entry) = 0;
  // IcmpSendEcho(handle, address, a request of requestBytes zero bytes, options, a reply buffer
  // of replyBytes, timeoutMs) through `entry`: the number of replies (0 on failure, last error
  // set: IP_BUF_TOO_SMALL or ERROR_INSUFFICIENT_BUFFER for a buffer below the documented
  // minimum, IP_REQ_TIMED_OUT when nothing answered), with the first reply in *reply.
  virtual std::uint32_t IcmpSendEcho(ProcAddress entry, IcmpHandle handle, InAddr address,
                                     std::uint16_t requestBytes, const IpOptions& options,
                                     std::uint32_t replyBytes, std::uint32_t timeoutMs,
                                     EchoReply* reply) = 0;
  // IcmpCloseHandle through `entry`.
  virtual bool IcmpCloseHandle(ProcAddress entry, IcmpHandle handle) = 0;
};

}  // namespace kvd::platform
