#include "issues/TwainSession.h"

#include <exception>

#include "logging/Trace.h"

KVD_TRACE_SOURCE();

namespace kind = DUDiduzuz::kind;
namespace tw = kvd::platform::twain;
using kvd::platform::MessageWait;
using kvd::platform::ThreadMessage;
using kvd::platform::TwIdentity;

CTwainSession::CTwainSession(kvd::platform::ITwain& twain, kvd::platform::IClock& clock)
    : m_twain(twain), m_clock(clock) {}

CTwainSession::~CTwainSession() {
  CloseSource();
  CloseDsm();
  if (m_hLibrary != 0) m_twain.FreeLibrary(m_hLibrary);
}

std::uint16_t CTwainSession::Keep(std::uint16_t returnCode, bool toSource) {
  m_nLastReturnCode = returnCode;
  // The condition code says why a triplet failed; after the event codes it says nothing.
  if (returnCode == tw::TWRC_FAILURE && m_hLibrary != 0 && m_bHasEntry) {
    std::uint16_t condition = 0;
    try {
      m_twain.Status(m_hLibrary, m_appIdentity, toSource ? &m_sourceIdentity : nullptr, &condition);
    } catch (const std::exception&) {
    }
    m_nLastCondition = condition;
  }
  return returnCode;
}

int CTwainSession::InitializeTwain(const std::wstring& path) {
  KVD_SCOPE(L"CTwainSession::InitializeTwain");
  if (m_hLibrary == 0) m_hLibrary = m_twain.LoadLibrary(path.c_str(), &m_bHasEntry);
  if (m_hLibrary == 0) return 100000;
  if (!m_bHasEntry) return 100008;
  m_appIdentity = TwIdentity{};
  m_appIdentity.majorNum = 1;
  m_appIdentity.minorNum = 0;
  m_appIdentity.language = tw::TWLG_ENGLISH_USA;
  m_appIdentity.country = tw::TWCY_INDIA;
  m_appIdentity.info = "2.0";
  m_appIdentity.protocolMajor = 2;
  m_appIdentity.protocolMinor = 0;
  m_appIdentity.supportedGroups = tw::DG_CONTROL | tw::DG_IMAGE;
  m_appIdentity.manufacturer = "Quvari";
  m_appIdentity.productFamily = "Quvari";
  m_appIdentity.productName = "Kavid";
  return 0;
}

template <class Call>
std::uint16_t CTwainSession::Triplet(bool toSource, Call&& call) {
  if (m_hLibrary == 0 || !m_bHasEntry) return Keep(tw::TWRC_FAILURE, false);
  try {
    return Keep(call(), toSource);
  } catch (const std::exception&) {
    return Keep(tw::TWRC_FAILURE, false);
  }
}

bool CTwainSession::OpenDsm(kvd::platform::WindowHandle parent) {
  m_hParent = parent;
  m_bDsmOpen = Triplet(false, [&] {
                 return m_twain.Parent(m_hLibrary, m_appIdentity, tw::MSG_OPENDSM, m_hParent);
               }) == tw::TWRC_SUCCESS;
  return m_bDsmOpen;
}

void CTwainSession::CloseDsm() {
  if (!m_bDsmOpen) return;
  Triplet(false,
          [&] { return m_twain.Parent(m_hLibrary, m_appIdentity, tw::MSG_CLOSEDSM, m_hParent); });
  m_bDsmOpen = false;
}

std::vector<TwIdentity> CTwainSession::Sources() {
  std::vector<TwIdentity> sources;
  TwIdentity source;
  std::uint16_t msg = tw::MSG_GETFIRST;
  // A manager that never says "end of list" still has a finite number of sources.
  for (int i = 0; i < 1000; ++i) {
    source = TwIdentity{};
    if (Triplet(false, [&] { return m_twain.Identity(m_hLibrary, m_appIdentity, msg, source); }) !=
        tw::TWRC_SUCCESS) {
      break;
    }
    sources.push_back(source);
    msg = tw::MSG_GETNEXT;
  }
  return sources;
}

bool CTwainSession::OpenSource(const TwIdentity& source) {
  m_sourceIdentity = source;
  m_bSourceOpen =
      Triplet(false, [&] {
        return m_twain.Identity(m_hLibrary, m_appIdentity, tw::MSG_OPENDS, m_sourceIdentity);
      }) == tw::TWRC_SUCCESS;
  return m_bSourceOpen;
}

bool CTwainSession::EnableSource() {
  if (!m_bSourceOpen) return false;
  m_bEnabled = Triplet(true, [&] {
                 return m_twain.UserInterface(m_hLibrary, m_appIdentity, m_sourceIdentity,
                                              tw::MSG_ENABLEDS, false, false, m_hParent);
               }) == tw::TWRC_SUCCESS;
  return m_bEnabled;
}

void CTwainSession::CloseSource() {
  if (m_bEnabled) {
    Triplet(true, [&] {
      return m_twain.UserInterface(m_hLibrary, m_appIdentity, m_sourceIdentity, tw::MSG_DISABLEDS,
                                   true, false, m_hParent);
    });
    m_bEnabled = false;
  }
  if (m_bSourceOpen) {
    Triplet(false, [&] {
      return m_twain.Identity(m_hLibrary, m_appIdentity, tw::MSG_CLOSEDS, m_sourceIdentity);
    });
    m_bSourceOpen = false;
  }
}

CTwainSession::LoopEnd CTwainSession::Transfer() {
  KVD_SCOPE(L"CTwainSession::Transfer");
  std::uint16_t count = 0;
  // Each transfer ends the source's count of pending ones or fails; a source that keeps
  // announcing more is still bounded.
  for (int i = 0; i < 1000; ++i) {
    if (Triplet(true, [&] {
          return m_twain.ImageInfo(m_hLibrary, m_appIdentity, m_sourceIdentity);
        }) != tw::TWRC_SUCCESS) {
      KVD_LOG(kind::Debug, L"The image information cannot be had: the transfers are reset.");
      Triplet(true, [&] {
        return m_twain.PendingTransfers(m_hLibrary, m_appIdentity, m_sourceIdentity, tw::MSG_RESET,
                                        &count);
      });
      return LoopEnd::Failed;
    }
    kvd::platform::TwainImage image = 0;
    const std::uint16_t transferred = Triplet(true, [&] {
      return m_twain.NativeTransfer(m_hLibrary, m_appIdentity, m_sourceIdentity, &image);
    });
    if (transferred == tw::TWRC_FAILURE || transferred == tw::TWRC_CANCEL) {
      Triplet(true, [&] {
        return m_twain.PendingTransfers(m_hLibrary, m_appIdentity, m_sourceIdentity, tw::MSG_RESET,
                                        &count);
      });
      return transferred == tw::TWRC_CANCEL ? LoopEnd::Cancelled : LoopEnd::Failed;
    }
    if (image != 0) m_twain.FreeImage(image);
    if (Triplet(true,
                [&] {
                  return m_twain.PendingTransfers(m_hLibrary, m_appIdentity, m_sourceIdentity,
                                                  tw::MSG_ENDXFER, &count);
                }) != tw::TWRC_SUCCESS ||
        count == 0) {
      return LoopEnd::Transferred;
    }
  }
  return LoopEnd::Transferred;
}

CTwainSession::LoopEnd CTwainSession::RunMessageLoop(std::uint32_t limitMs) {
  KVD_SCOPE(L"CTwainSession::RunMessageLoop");
  const std::uint32_t start = m_clock.GetTickCount();
  for (;;) {
    const std::uint32_t elapsed = m_clock.GetTickCount() - start;
    if (elapsed >= limitMs) return LoopEnd::TimedOut;
    ThreadMessage message;
    const MessageWait wait = m_twain.GetMessage(&message, limitMs - elapsed);
    if (wait == MessageWait::Quit) return LoopEnd::Quit;
    if (wait == MessageWait::Timeout) return LoopEnd::TimedOut;
    m_nLastReturnCode = tw::TWRC_NOTDSEVENT;
    std::uint16_t event = 0;
    if (m_bEnabled) {
      Triplet(true, [&] {
        return m_twain.ProcessEvent(m_hLibrary, m_appIdentity, m_sourceIdentity, message, &event);
      });
    }
    const bool sourceMessage = m_nLastReturnCode != tw::TWRC_NOTDSEVENT;
    if (event == tw::MSG_XFERREADY) return Transfer();
    if (event == tw::MSG_CLOSEDSREQ) {
      CloseSource();
      return LoopEnd::Cancelled;
    }
    if (event == tw::MSG_CLOSEDSOK) CloseSource();
    if (!sourceMessage) m_twain.DispatchMessage(message);
  }
}
