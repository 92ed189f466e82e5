// One TWAIN conversation of the TWAIN check: the source manager library, the manager, one data
// source, its native transfers and the message loop its events arrive in, all on the calling
// (worker) thread, in the standard's order of states and back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/api/ISystem.h"
#include "platform/api/ITwain.h"

class CTwainSession {
 public:
  // How the message loop ended.
  enum class LoopEnd {
    Transferred,  // an image was transferred
    Cancelled,    // the source asked to close, or the user cancelled the transfer
    Failed,       // a transfer failed
    Quit,         // the thread's queue was told to quit (GetMessageW returned 0)
    TimedOut,     // no event ended the loop in time
  };

  CTwainSession(kvd::platform::ITwain& twain, kvd::platform::IClock& clock);
  // Closes what is still open (the source, then the manager) before the library is unloaded:
  // a library unloaded under an open manager would leave the manager's state behind it.
  ~CTwainSession();
  CTwainSession(const CTwainSession&) = delete;
  CTwainSession& operator=(const CTwainSession&) = delete;

  // Whether `path` can be loaded and exports DSM_Entry: 0 when it does, 100000 when it cannot
  // be loaded, 100008 without the entry. Fills the application identity.
  int InitializeTwain(const std::wstring& path);
  bool OpenDsm(kvd::platform::WindowHandle parent);
  void CloseDsm();
  // The manager's sources in its order (MSG_GETFIRST, then MSG_GETNEXT until it fails).
  std::vector<kvd::platform::TwIdentity> Sources();
  bool OpenSource(const kvd::platform::TwIdentity& source);
  bool EnableSource();
  // MSG_DISABLEDS when enabled, then MSG_CLOSEDS when open.
  void CloseSource();
  // The thread's messages handed to the enabled source until its events end the loop, at most
  // `limitMs` in all.
  LoopEnd RunMessageLoop(std::uint32_t limitMs);

  kvd::platform::WindowHandle Parent() const { return m_hParent; }
  bool DsmOpen() const { return m_bDsmOpen; }
  std::uint16_t LastReturnCode() const { return m_nLastReturnCode; }
  std::uint16_t LastCondition() const { return m_nLastCondition; }
  const kvd::platform::TwIdentity& AppIdentity() const { return m_appIdentity; }

 private:
  // A triplet's return code kept, and the condition code read after a failing one.
  std::uint16_t Keep(std::uint16_t returnCode, bool toSource);
  // Every triplet: none without the library and its entry; an exception is a failure.
  template <class Call>
  std::uint16_t Triplet(bool toSource, Call&& call);
  // The pending transfers of a ready source; Failed or Cancelled when one did not complete.
  LoopEnd Transfer();

  kvd::platform::ITwain& m_twain;
  kvd::platform::IClock& m_clock;
  kvd::platform::TwainLibrary m_hLibrary = 0;
  bool m_bHasEntry = false;
  kvd::platform::TwIdentity m_appIdentity;
  kvd::platform::TwIdentity m_sourceIdentity;
  kvd::platform::WindowHandle m_hParent = 0;
  bool m_bDsmOpen = false;
  bool m_bSourceOpen = false;
  bool m_bEnabled = false;
  std::uint16_t m_nLastReturnCode = kvd::platform::twain::TWRC_SUCCESS;
  std::uint16_t m_nLastCondition = 0;
};
