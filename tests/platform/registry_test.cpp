// The file-backed registry and the .reg import that fills it.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/reg_file.h"
#include "tests/support/env.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace Platform;
constexpr auto HKLM = RegistryHive::LocalMachine;
constexpr auto V64 = RegistryView::View64;
constexpr auto V32 = RegistryView::View32;

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() { m_env.Set("OMK_REGISTRY_ROOT", (m_dir.Path() / "registry").string()); }
  TestSupport::TempDir m_dir;
  TestSupport::ScopedEnv m_env;
};

TEST_F(RegistryTest, ValuesRoundTripAndNamesIgnoreLetterCase) {
  RegistryValue multi;
  multi.type = RegistryValueType::MultiString;
  multi.strings = {L"a", L"b c"};
  RegistryValue binary;
  binary.type = RegistryValueType::Binary;
  binary.bytes = {0, 1, 0xFF, '\n'};
  const std::vector<std::pair<std::wstring, RegistryValue>> values = {
      {L"", RegistryValue::Text(L"default")},
      {L"Text/../with\\odd \x00e9 chars", RegistryValue::Text(L"line\nbreak \x4e2d")},
      {L"Expand", RegistryValue::Text(L"%HOME%/x", RegistryValueType::ExpandString)},
      {L"Dword", RegistryValue::Number(0xFFFFFFFFu)},
      {L"Qword", RegistryValue::Number(0x123456789ABCull, RegistryValueType::Qword)},
      {L"Multi", multi},
      {L"Binary", binary},
  };
  for (const auto& [name, value] : values) RegSetValue(HKLM, L"SOFTWARE\\Vendor\\App", name, value, V64);
  for (const auto& [name, value] : values) {
    EXPECT_EQ(RegQueryValue(HKLM, L"software\\VENDOR\\app", name, V64), value);
  }
  RegSetValue(HKLM, L"SOFTWARE\\VENDOR\\App", L"DWORD", RegistryValue::Number(7), V64);
  EXPECT_EQ(RegQueryValue(HKLM, L"SOFTWARE\\Vendor\\App", L"Dword", V64)->number, 7u);
  EXPECT_EQ(RegEnumSubKeys(HKLM, L"SOFTWARE", V64), std::vector<std::wstring>{L"Vendor"});
  EXPECT_EQ(RegReadString(HKLM, L"SOFTWARE\\Vendor\\App", L"Expand", V64), L"%HOME%/x");
  EXPECT_FALSE(RegReadString(HKLM, L"SOFTWARE\\Vendor\\App", L"Dword", V64));
  EXPECT_FALSE(RegQueryValue(HKLM, L"SOFTWARE\\Vendor\\App", L"Missing", V64));
  EXPECT_FALSE(RegQueryValue(HKLM, L"SOFTWARE\\Vendor\\Missing", L"", V64));
  // Odd names stay inside their key's folder.
  EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "registry" / "64" / "HKLM" / "K_SOFTWARE" / "with"));
}

TEST_F(RegistryTest, ViewsAreSeparateAndWow6432NodeNamesTheThirtyTwoBitView) {
  RegSetValue(HKLM, L"SOFTWARE\\Wow6432Node\\Vendor", L"v", RegistryValue::Text(L"32"), V64);
  RegSetValue(HKLM, L"SOFTWARE\\Other", L"v", RegistryValue::Text(L"64"), V64);
  EXPECT_EQ(RegReadString(HKLM, L"SOFTWARE\\Vendor", L"v", V32), L"32");
  EXPECT_EQ(RegReadString(HKLM, L"SOFTWARE\\WOW6432NODE\\Vendor", L"v", V32), L"32");
  EXPECT_FALSE(RegReadString(HKLM, L"SOFTWARE\\Vendor", L"v", V64));
  EXPECT_FALSE(RegReadString(HKLM, L"SOFTWARE\\Other", L"v", V32));
  EXPECT_FALSE(RegReadString(RegistryHive::CurrentUser, L"SOFTWARE\\Other", L"v", V64));
}

TEST_F(RegistryTest, DeletesKeysAndValues) {
  RegSetValue(HKLM, L"A\\B\\C", L"v", RegistryValue::Text(L"x"), V64);
  RegSetValue(HKLM, L"A\\B", L"w", RegistryValue::Text(L"y"), V64);
  RegDeleteValue(HKLM, L"a\\b", L"W", V64);
  EXPECT_FALSE(RegQueryValue(HKLM, L"A\\B", L"w", V64));
  RegDeleteKeyTree(HKLM, L"a\\B", V64);
  EXPECT_FALSE(RegKeyExists(HKLM, L"A\\B", V64));
  EXPECT_TRUE(RegKeyExists(HKLM, L"A", V64));
  EXPECT_TRUE(RegEnumSubKeys(HKLM, L"A", V64).empty());
  RegDeleteKeyTree(HKLM, L"A\\Missing", V64);
  RegDeleteValue(HKLM, L"Missing", L"v", V64);
}

TEST_F(RegistryTest, ConcurrentWritersNeverShowAHalfWrittenValue) {
  RegSetValue(HKLM, L"Shared", L"v", RegistryValue::Text(std::wstring(4000, L'0')), V64);
  std::vector<pid_t> children;
  for (int c = 1; c <= 3; ++c) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 0; i < 150; ++i) {
        RegSetValue(HKLM, L"Shared", L"v", RegistryValue::Text(std::wstring(4000, static_cast<wchar_t>(L'0' + c))), V64);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (int i = 0; i < 300; ++i) {
    const auto value = RegReadString(HKLM, L"Shared", L"v", V64);
    ASSERT_TRUE(value);
    ASSERT_EQ(value->size(), 4000u);
    ASSERT_EQ(value->find_first_not_of((*value)[0]), std::wstring::npos);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  // No temporary files are left behind.
  for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path() / "registry/64/HKLM/K_Shared")) {
    EXPECT_EQ(entry.path().filename().string().rfind("V_", 0), 0u) << entry.path();
  }
}

TEST_F(RegistryTest, ImportsRegeditFiles) {
  TestSupport::ImportReg(R"(
; a comment
[HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\App]
@="default"
"Path"="C:\\Program Files\\App \"quoted\""
"Count"=dword:0000002a
"Bin"=hex:01,ff,\
  10
"Exp"=hex(2):25,00,41,00,25,00,00,00
"Multi"=hex(7):61,00,00,00,62,00,00,00,00,00
"Big"=hex(b):01,00,00,00,00,00,00,00
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Vendor\Old]
"v"="32-bit"
[HKLM\SOFTWARE\Gone]
"x"="y"
[-HKEY_LOCAL_MACHINE\SOFTWARE\Gone]
[HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\App]
"Count"=-
)");
  const std::wstring app = L"SOFTWARE\\Vendor\\App";
  EXPECT_EQ(RegReadString(HKLM, app, L"", V64), L"default");
  EXPECT_EQ(RegReadString(HKLM, app, L"Path", V64), L"C:\\Program Files\\App \"quoted\"");
  EXPECT_FALSE(RegQueryValue(HKLM, app, L"Count", V64));
  EXPECT_EQ(RegQueryValue(HKLM, app, L"Bin", V64)->bytes, (std::vector<uint8_t>{1, 0xFF, 0x10}));
  EXPECT_EQ(RegQueryValue(HKLM, app, L"Exp", V64), RegistryValue::Text(L"%A%", RegistryValueType::ExpandString));
  EXPECT_EQ(RegQueryValue(HKLM, app, L"Multi", V64)->strings, (std::vector<std::wstring>{L"a", L"b"}));
  EXPECT_EQ(RegQueryValue(HKLM, app, L"Big", V64)->number, 1u);
  EXPECT_EQ(RegReadString(HKLM, L"SOFTWARE\\Vendor\\Old", L"v", V32), L"32-bit");
  EXPECT_FALSE(RegKeyExists(HKLM, L"SOFTWARE\\Gone", V64));
}

TEST_F(RegistryTest, ReadsUtf16FilesWithByteOrderMark) {
  const std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"N\"=\"\u00e9\"\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  ApplyRegFile(ParseRegFile(bytes), V64);
  EXPECT_EQ(RegReadString(RegistryHive::CurrentUser, L"K", L"N", V64), L"\u00e9");
}

TEST_F(RegistryTest, MalformedFilesAreRefusedWhole) {
  const char* const cases[] = {
      "",
      "REGEDIT5\n[HKLM\\A]\n",
      "REGEDIT4\n\"v\"=\"outside a key\"\n",
      "REGEDIT4\n[HKEY_NOWHERE\\A]\n",
      "REGEDIT4\n[HKLM\\A\n",
      "REGEDIT4\n[HKLM\\A]\n\"v\"=\"unterminated\n",
      "REGEDIT4\n[HKLM\\A]\n\"v\"=dword:123456789\n",
      "REGEDIT4\n[HKLM\\A]\n\"v\"=dword:xyz\n",
      "REGEDIT4\n[HKLM\\A]\n\"v\"=hex:1,2g\n",
      "REGEDIT4\n[HKLM\\A]\n\"v\"=hex(b):01\n",
      "REGEDIT4\n[HKLM\\A]\n\"v\"=hex(99):01\n",
      "REGEDIT4\n[HKLM\\A]\nv=\"no quotes\"\n",
      "REGEDIT4\n[HKLM\\A]\n\"v\"\n",
  };
  for (const char* text : cases) {
    EXPECT_THROW(ParseRegFile(text), RegFileError) << text;
  }
  EXPECT_FALSE(RegKeyExists(HKLM, L"A", V64));
}

}  // namespace
