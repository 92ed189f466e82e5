#include "repair/L2Uninstall.h"

#include "logging/Trace.h"
#include "platform/api/Text.h"

KVD_TRACE_SOURCE();

using namespace kvd::platform;
namespace kind = DUDiduzuz::kind;

namespace {
constexpr std::uint32_t kUiNoneSourceResOnly = msi::UiLevelNone | msi::UiLevelSourceResOnly;
constexpr std::uint32_t kUiFull = 5;  // INSTALLUILEVEL_FULL
constexpr int kDefaultInstallLevel = 0;
constexpr int kStateAbsent = 2;  // INSTALLSTATE_ABSENT
constexpr std::uint32_t kUserCancelled = 1602;
}  // namespace

bool CL2Uninstall::UnInstallMsi(const std::wstring& deviceText) {
  KVD_SCOPE(L"CL2Uninstall::UnInstallMsi");
  IInstaller& installer = m_platform.installer;
  installer.MsiSetInternalUI(kUiNoneSourceResOnly);
  const std::wstring device = ToLowerOrdinal(Trim(deviceText));
  for (std::uint32_t index = 0;; ++index) {
    wchar_t code[39] = {};
    // Any answer but a product ends the walk: an error repeated for every index would
    // otherwise never let it end.
    if (installer.MsiEnumProducts(index, code) != err::Success) break;
    MsiHandle product = 0;
    if (installer.MsiOpenProduct(code, &product) != err::Success) continue;
    std::wstring modelName;
    const std::uint32_t read = InstallerText(modelName, [&](wchar_t* buffer, std::uint32_t* chars) {
      return installer.MsiGetProductProperty(product, L"ModelName", buffer, chars);
    });
    installer.MsiCloseHandle(product);
    modelName = ToLowerOrdinal(Trim(modelName));
    if (read != err::Success || modelName.empty()) continue;
    if (device.find(modelName) == std::wstring::npos) continue;

    KVD_LOG(kind::Info, L"Found the device for MSI uninstallation ");
    installer.MsiSetInternalUI(kUiFull);
    const std::uint32_t result =
        installer.MsiConfigureProduct(code, kDefaultInstallLevel, kStateAbsent);
    if (result == err::Success) {
      KVD_LOG(kind::Info, L"Uninstalled the device MSI");
      return true;
    }
    if (result == kUserCancelled) {
      KVD_LOG(kind::Info, L"Uninstallation aborted by user");
      return false;
    }
    KVD_LOG(kind::Error, L"Uninstallation of device MSI failed = %d", static_cast<int>(result));
    installer.MsiSetInternalUI(kUiNoneSourceResOnly);
  }
  return false;
}
