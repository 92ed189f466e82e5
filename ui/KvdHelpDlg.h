#pragma once

#include "ui/Dialog.h"

class CKavidApp;

// The help page. PLACEHOLDER until the page with its links and actions is built: its title
// and Back, which returns to the diagnosis page as it was.
class CKvdHelpDlg : public kvd::ui::CDialog {
 public:
  explicit CKvdHelpDlg(CKavidApp& app);

  kvd::ui::Background BackgroundKind() const override { return kvd::ui::Background::Banner; }

 protected:
  bool OnInitDialog() override;
  void OnOK() override {}
  void OnCancel() override {}
  bool OnCommand(int id, int code) override;

 private:
  CKavidApp& m_app;
};
