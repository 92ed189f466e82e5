#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "ui/Dialog.h"

// The TWAIN check's question when no data source is the device's by name: the candidates'
// product names in a list, the first chosen; Select gives the chosen one, Cancel (or Select with
// none chosen) nothing.
class CTwainSourceSelectionDialog : public kvd::ui::CDialog {
 public:
  CTwainSourceSelectionDialog(kvd::ui::IUiToolkit& ui, std::vector<std::wstring> names);

  std::optional<std::size_t> Selected() const { return m_selected; }

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id, int code) override;

 private:
  std::vector<std::wstring> m_names;
  std::optional<std::size_t> m_selected;
};
