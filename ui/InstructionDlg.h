#pragma once

#include <cstdint>

#include "ui/Dialog.h"

class CKavidApp;

// Shown before every driver refresh: what the Windows device tools will ask of the user.
class CInstructionDlg : public kvd::ui::CDialog {
 public:
  explicit CInstructionDlg(CKavidApp& app);
  ~CInstructionDlg() override;

  // The decoded background picture (509 x 364), or 0 when it could not be decoded: the dialog
  // then keeps the system's background.
  std::uintptr_t Picture() const override { return m_hBackground; }
  // The statics are drawn over the picture, as on the pages.
  bool PageColours() const override { return true; }
  kvd::ui::Background BackgroundKind() const override {
    return m_hBackground != 0 ? kvd::ui::Background::Own : kvd::ui::Background::Default;
  }

 protected:
  bool OnInitDialog() override;

 private:
  CKavidApp& m_app;
  std::uintptr_t m_hBackground = 0;
};
