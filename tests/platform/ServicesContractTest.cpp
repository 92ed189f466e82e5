// The service control manager port as the checks and repairs rely on it, on both tiers: the
// still-image service that every Windows (and Wine) has.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "tests/support/TestMachine.h"

namespace kvd::platform {
namespace {

constexpr std::uint32_t kServiceDoesNotExist = 1060;

class ServicesContract : public ::testing::TestWithParam<test::TargetFactory> {
 protected:
  void SetUp() override { machine_ = GetParam().make(); }
  IServices& services() { return machine_->Ports().services; }
  std::unique_ptr<test::TestMachine> machine_;
};

// The configuration is read in two steps, the start type changes and reads back, and a name
// that is no service is refused as such.
TEST_P(ServicesContract, ConfigurationInTwoStepsAndTheStartType) {
  const ScHandle manager = services().OpenSCManager(L"ServicesActive", svc::ScManagerAllAccess);
  ASSERT_NE(manager, 0u);
  EXPECT_EQ(services().OpenService(manager, L"NoSuchServiceOfKavid", svc::ServiceAllAccess), 0u);
  EXPECT_EQ(machine_->Ports().errors.GetLastError(), kServiceDoesNotExist);

  const ScHandle service = services().OpenService(manager, L"StiSvc", svc::ServiceAllAccess);
  ASSERT_NE(service, 0u);
  ServiceConfig config;
  std::uint32_t needed = 0;
  EXPECT_FALSE(services().QueryServiceConfig(service, 0, &config, &needed));
  EXPECT_EQ(machine_->Ports().errors.GetLastError(), err::InsufficientBuffer);
  ASSERT_GT(needed, 0u);
  ASSERT_TRUE(services().QueryServiceConfig(service, needed, &config, &needed));
  EXPECT_NE(config.serviceType, 0u);
  EXPECT_FALSE(config.binaryPathName.empty());
  const std::uint32_t original = config.startType;

  ASSERT_TRUE(services().ChangeServiceStartType(service, config.serviceType, svc::Disabled));
  ServiceConfig changed;
  ASSERT_TRUE(services().QueryServiceConfig(service, 8192, &changed, &needed));
  EXPECT_EQ(changed.startType, svc::Disabled);
  EXPECT_EQ(changed.serviceType, config.serviceType);
  EXPECT_EQ(changed.binaryPathName, config.binaryPathName);
  std::uint32_t state = 0;
  EXPECT_TRUE(services().QueryServiceStatus(service, &state));
  EXPECT_NE(state, 0u);
  ASSERT_TRUE(services().ChangeServiceStartType(service, config.serviceType, original));
  EXPECT_TRUE(services().CloseServiceHandle(service));
  EXPECT_TRUE(services().CloseServiceHandle(manager));
}

INSTANTIATE_TEST_SUITE_P(All, ServicesContract, ::testing::ValuesIn(test::AllTargets()),
                         test::TargetName());

}  // namespace
}  // namespace kvd::platform
