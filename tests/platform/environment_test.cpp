// Environment expansion, the data folders, and the description cipher.
#include "platform/environment.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/crypto.h"
#include "tests/support/env.h"

namespace {

TEST(EnvironmentTest, ExpandsSetVariablesOnly) {
  TestSupport::ScopedEnv env;
  env.Set("OMK_A", "alpha").Set("OMK_UNSET", std::nullopt);
  const std::vector<std::pair<std::wstring, std::wstring>> cases = {
      {L"%OMK_A%/x", L"alpha/x"},
      {L"%OMK_A%%OMK_A%", L"alphaalpha"},
      {L"%OMK_UNSET%/x", L"%OMK_UNSET%/x"},
      {L"50% of %OMK_A%", L"50% of alpha"},
      {L"%%OMK_A%", L"%alpha"},
      {L"100%", L"100%"},
  };
  for (const auto& [text, expanded] : cases) EXPECT_EQ(Platform::ExpandEnvironmentStrings(text), expanded);
}

TEST(EnvironmentTest, ProgramDataAndInteractiveUser) {
  TestSupport::ScopedEnv env;
  env.Set("OMK_PROGRAMDATA", std::nullopt).Set("SUDO_UID", "4242").Set("PKEXEC_UID", std::nullopt);
  EXPECT_EQ(Platform::GetProgramDataFolder(), "/var/lib");
  env.Set("OMK_PROGRAMDATA", "/tmp/pd");
  EXPECT_EQ(Platform::GetProgramDataFolder(), "/tmp/pd");
  // SUDO_UID counts only for a process running as root.
  EXPECT_EQ(Platform::GetInteractiveUserKey(), geteuid() == 0 ? L"4242" : std::to_wstring(getuid()));
  env.Set("SUDO_UID", "12; rm");
  EXPECT_EQ(Platform::GetInteractiveUserKey(), std::to_wstring(getuid()));
}

TEST(CryptoTest, DerivesTheKeyAndDecryptsWhatItEncrypted) {
  const auto key = Platform::DeriveAes128Key("Q7RM-bW2xTz8Lk4N");
  const Platform::Aes128Key expected = {0x1b, 0x56, 0x45, 0x54, 0x7a, 0x15, 0x21, 0x34,
                                        0xea, 0xba, 0xeb, 0x33, 0x39, 0xd6, 0x66, 0xf5};
  EXPECT_EQ(key, expected);
  const std::string plain = "{\"Applications\":[]}";
  const std::string cipher = Platform::Aes128CbcEncrypt(key, plain);
  EXPECT_EQ(cipher.size(), 32u);
  EXPECT_EQ(Platform::Aes128CbcDecrypt(key, cipher), plain);
  EXPECT_FALSE(Platform::Aes128CbcDecrypt(Platform::DeriveAes128Key("other"), cipher));
  EXPECT_FALSE(Platform::Aes128CbcDecrypt(key, cipher.substr(0, 31)));
  EXPECT_FALSE(Platform::Aes128CbcDecrypt(key, ""));
}

}  // namespace
