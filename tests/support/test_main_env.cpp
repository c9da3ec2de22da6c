// Starts the network stack once for every test binary.
#include <gtest/gtest.h>

#include "platform/net.h"

namespace {
class NetEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { NetStartup(); }
  void TearDown() override { NetCleanup(); }
};
const auto* const g_netEnv = ::testing::AddGlobalTestEnvironment(new NetEnvironment);
}  // namespace
