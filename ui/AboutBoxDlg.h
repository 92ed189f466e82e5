#pragma once

#include "ui/Dialog.h"

class CKavidApp;

// The About box of the host's system menu: the program's title, version and copyright.
class CAboutBoxDlg : public kvd::ui::CDialog {
 public:
  explicit CAboutBoxDlg(CKavidApp& app);

 protected:
  bool OnInitDialog() override;

 private:
  CKavidApp& m_app;
  kvd::ui::IconHandle m_hIcon = 0;
};
