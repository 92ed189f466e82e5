#include "ui/TwainSourceDlg.h"

#include <utility>

#include "resources/resource.h"
#include "strings/StringTable.h"

using namespace kvd::ui;

CTwainSourceSelectionDialog::CTwainSourceSelectionDialog(IUiToolkit& ui,
                                                         std::vector<std::wstring> names)
    : CDialog(ui, IDD_TWAIN_SOURCE), m_names(std::move(names)) {}

bool CTwainSourceSelectionDialog::OnInitDialog() {
  IDialogView& view = *View();
  view.SetWindowText(GlobalLag.GetString(L"TWAIN_SELECT_SOURCE"));
  for (const std::wstring& name : m_names) view.ListBoxAddString(IDC_SOURCE_LIST, name);
  view.ListBoxSetCurSel(IDC_SOURCE_LIST, 0);
  view.BringToTop();
  return true;
}

bool CTwainSourceSelectionDialog::OnCommand(int id, int code) {
  if (id != IDC_SOURCE_SELECT) return CDialog::OnCommand(id, code);
  const int chosen = View()->ListBoxGetCurSel(IDC_SOURCE_LIST);
  if (chosen < 0 || static_cast<std::size_t>(chosen) >= m_names.size()) {
    EndDialog(IdCancel);
    return true;
  }
  m_selected = static_cast<std::size_t>(chosen);
  EndDialog(IdOk);
  return true;
}
