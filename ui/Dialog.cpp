#include "ui/Dialog.h"

namespace kvd::ui {

void CDialog::EndDialog(int result) {
  m_nResult = result;
  m_bEnded = true;
  // A modeless page that "ends" is only hidden: its owner keeps it and may show it again.
  if (!m_bModal && m_pView != nullptr) m_pView->Show(false);
}

std::intptr_t CDialog::Dispatch(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                                bool* handled) {
  *handled = true;
  switch (message) {
    case wm::InitDialog:
      return OnInitDialog() ? 1 : 0;
    case wm::Command: {
      const int id = static_cast<int>(wParam & 0xFFFF);
      const int code = static_cast<int>((wParam >> 16) & 0xFFFF);
      if (OnCommand(id, code)) return 0;
      // Enter and Escape arrive as IDOK and IDCANCEL with a code of 0, as a button click does.
      if (id == IdOk && code == BnClicked) {
        OnOK();
        return 0;
      }
      if (id == IdCancel && code == BnClicked) {
        OnCancel();
        return 0;
      }
      *handled = false;
      return 0;
    }
    case wm::Timer:
      OnTimer(wParam);
      return 0;
    case wm::SysCommand:
      *handled = OnSysCommand(static_cast<std::uint32_t>(wParam));
      return 0;
    case wm::Close:
      // A dialog's default answer to WM_CLOSE is its Cancel command.
      if (!OnClose()) OnCancel();
      return 0;
    case wm::DeviceChange:
      return OnDeviceChange(wParam, lParam);
    default:
      break;
  }
  if (message >= wm::User && message < 0x8000) {
    std::intptr_t result = 0;
    *handled = OnUserMessage(message, wParam, lParam, &result);
    return result;
  }
  *handled = false;
  return 0;
}

}  // namespace kvd::ui
