// The Windows Installer strategy of the device software uninstall, on the simulated machine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/SimMachine.h"
#include "repair/L2Uninstall.h"
#include "tests/support/PortHelpers.h"

namespace {

using kvd::sim::SimInstaller;

SimInstaller::Product Product(const wchar_t* code, const wchar_t* modelName,
                              std::uint32_t configureResult = 0) {
  SimInstaller::Product product;
  product.code = code;
  if (modelName != nullptr) product.properties[L"ModelName"] = modelName;
  product.configureResult = configureResult;
  return product;
}

constexpr const wchar_t* kFirst = L"{11111111-1111-1111-1111-111111111111}";
constexpr const wchar_t* kSecond = L"{22222222-2222-2222-2222-222222222222}";

TEST(L2UninstallMsi, RemovesTheProductWhoseModelTheDeviceNames) {
  struct Case {
    const char* name;
    std::vector<SimInstaller::Product> products;
    bool removed;
    std::vector<std::wstring> configured;  // product codes, in order
  };
  const Case cases[] = {
      {"the model in the device text, any case",
       {Product(kFirst, L"Other"), Product(kSecond, L" qx-800 ")},
       true,
       {kSecond}},
      {"the device text inside the model name is no match",
       {Product(kFirst, L"Quvari QX-800 Series Plus")},
       false,
       {}},
      {"no ModelName, or an empty one",
       {Product(kFirst, nullptr), Product(kSecond, L"  ")},
       false,
       {}},
      {"cancelled by the user: the search ends",
       {Product(kFirst, L"QX-800", 1602), Product(kSecond, L"QX-800")},
       false,
       {kFirst}},
      {"a failed removal: the next matching product",
       {Product(kFirst, L"QX-800", 1603), Product(kSecond, L"QX-800")},
       true,
       {kFirst, kSecond}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kvd::sim::SimMachine sim;
    for (const auto& product : c.products) sim.Installer().AddProduct(product);
    CL2Uninstall uninstall(sim.Ports());
    EXPECT_EQ(uninstall.UnInstallMsi(L"  Quvari QX-800 Series "), c.removed);
    std::vector<std::wstring> configured;
    for (const auto& [code, state] : sim.Installer().Configured()) {
      configured.push_back(code);
      EXPECT_EQ(state, 2);  // INSTALLSTATE_ABSENT
    }
    EXPECT_EQ(configured, c.configured);
    // The removal shows the installer's own user interface; the search shows none.
    for (std::uint32_t level : sim.Installer().ConfiguredUiLevels()) EXPECT_EQ(level, 5u);
    EXPECT_EQ(sim.Installer().OpenHandleCount(), 0u);
  }
}

TEST(L2UninstallMsi, AnEnumerationErrorEndsTheSearch) {
  kvd::sim::SimMachine sim;
  sim.Installer().AddProduct(Product(kFirst, L"QX-800"));
  sim.InjectFault("MsiEnumProducts", 1, 1627 /* ERROR_FUNCTION_FAILED */, true);
  CL2Uninstall uninstall(sim.Ports());
  EXPECT_FALSE(uninstall.UnInstallMsi(L"Quvari QX-800 Series"));
  EXPECT_TRUE(sim.Installer().Configured().empty());
}

}  // namespace
