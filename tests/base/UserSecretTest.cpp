#include "base/UserSecret.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const char kPurpose[] = "test purpose";

bool Runs95Family() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  return version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

class SealedSecrets : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Runs95Family()) GTEST_SKIP() << "the NT family's data protection";
    ASSERT_TRUE(CanProtectForUser());
    std::optional<std::string> made = ProtectForUser(secret, kPurpose);
    ASSERT_TRUE(made);
    sealed = *made;
  }

  std::string secret = "correct horse battery";
  std::string sealed;
};

TEST_F(SealedSecrets, HideTheSecretAndUnsealToIt) {
  EXPECT_EQ(std::string::npos, sealed.find(secret));
  EXPECT_EQ(std::string::npos, sealed.find("correct"));
  EXPECT_EQ(secret, UnprotectForUser(sealed, kPurpose).value_or("<refused>"));
}

// Each refusal is what a scheduled run sees for a value it must not trust.
TEST_F(SealedSecrets, DamagedOrForeignDataIsRefused) {
  EXPECT_FALSE(UnprotectForUser(sealed, "another purpose")) << "another program's secret";
  EXPECT_FALSE(UnprotectForUser(sealed.substr(0, sealed.size() - 1), kPurpose));
  EXPECT_FALSE(UnprotectForUser(std::string(), kPurpose));
  EXPECT_FALSE(UnprotectForUser(std::string(sealed.size(), 'x'), kPurpose));
  // Any one byte changed in the sealed text and its signature, the last 64
  // bytes. (Wine doesn't check every header field before them.)
  ASSERT_GT(sealed.size(), 64u);
  for (size_t at = sealed.size() - 64; at < sealed.size(); ++at) {
    std::string damaged = sealed;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x01);
    EXPECT_FALSE(UnprotectForUser(damaged, kPurpose)) << "byte " << at << " of " << sealed.size();
  }
}

}  // namespace
