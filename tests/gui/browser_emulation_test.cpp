// The browser-emulation value in the registry: written, read and deleted for a program's file
// name, and what the browser host learns from it.
#include "browser/browser_emulation.h"

#include "gui/browser_emulation_setting.h"
#include "platform/registry.h"
#include "tests/gui/guard_fixture.h"

namespace GuardTests {
namespace {

using namespace BrowserControl;
using Platform::RegistryHive;
using Platform::RegistryView;

std::optional<Platform::RegistryValue> Stored(const std::wstring& name, RegistryHive hive = RegistryHive::CurrentUser,
                                              RegistryView view = RegistryView::View64) {
  return Platform::RegQueryValue(hive, kBrowserEmulationKey, name, view);
}

class BrowserEmulationTest : public GuardTest {};

TEST_F(BrowserEmulationTest, SetReadAndDelete) {
  CustomInstaller::Gui::CBrowserEmulation emulation;
  ASSERT_TRUE(emulation.Set(L"setup.exe"));
  const auto value = Stored(L"setup.exe");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->type, Platform::RegistryValueType::Dword);
  EXPECT_EQ(value->number, 11000u);
  uint32_t read = 0;
  EXPECT_TRUE(ReadBrowserEmulation(L"setup.exe", read));
  EXPECT_EQ(read, 11000u);
  // Another program's value is left alone.
  ASSERT_TRUE(SetBrowserEmulation(L"other.exe", 10001));
  EXPECT_TRUE(emulation.Remove(L"setup.exe"));
  EXPECT_FALSE(Stored(L"setup.exe"));
  EXPECT_FALSE(emulation.Remove(L"setup.exe"));  // nothing left to delete
  EXPECT_FALSE(ReadBrowserEmulation(L"setup.exe", read));
  EXPECT_TRUE(Stored(L"other.exe"));
  // An empty name would be the key's default value.
  EXPECT_FALSE(emulation.Set(L""));
  EXPECT_FALSE(emulation.Remove(L""));
  EXPECT_FALSE(Stored(L""));
}

TEST_F(BrowserEmulationTest, HiveAndViewChooseWhereTheValueGoes) {
  ASSERT_TRUE(SetBrowserEmulation(L"a.exe", 11000, kEmulationLocalMachine, false));
  ASSERT_TRUE(SetBrowserEmulation(L"b.exe", 11000, kEmulationCurrentUser, true));
  EXPECT_TRUE(Stored(L"a.exe", RegistryHive::LocalMachine));
  EXPECT_FALSE(Stored(L"a.exe"));
  EXPECT_TRUE(Stored(L"b.exe", RegistryHive::CurrentUser, RegistryView::View32));
  EXPECT_FALSE(Stored(L"b.exe"));
  EXPECT_FALSE(DeleteBrowserEmulation(L"b.exe"));
  EXPECT_TRUE(DeleteBrowserEmulation(L"b.exe", kEmulationCurrentUser, true));
  EXPECT_TRUE(DeleteBrowserEmulation(L"a.exe", kEmulationLocalMachine, false));
}

// Registry failures come back as false, never as an exception.
TEST_F(BrowserEmulationTest, UnwritableRegistryGivesFalse) {
  m_env.Set("OMK_REGISTRY_ROOT", "/proc/omk-no-registry");
  EXPECT_FALSE(SetBrowserEmulation(L"setup.exe", 11000));
  EXPECT_FALSE(DeleteBrowserEmulation(L"setup.exe"));
  EXPECT_FALSE(IsBrowserEmulationSet());
}

// What the browser host asks: this program's value, selecting the version 11 engine.
TEST_F(BrowserEmulationTest, WhetherTheVersion11EngineIsSelected) {
  const std::wstring self = GetBrowserEmulationValueName();
  EXPECT_EQ(self, L"omk_gui_tests");
  struct Case {
    const char* what;
    std::optional<Platform::RegistryValue> value;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"absent", std::nullopt, false},
      {"11000", Platform::RegistryValue::Number(11000), true},
      {"11001 (forced)", Platform::RegistryValue::Number(11001), true},
      {"10001 (an older engine)", Platform::RegistryValue::Number(10001), false},
      {"text, not a number", Platform::RegistryValue::Text(L"11000"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Platform::RegDeleteValue(RegistryHive::CurrentUser, kBrowserEmulationKey, self, RegistryView::View64);
    if (c.value) Platform::RegSetValue(RegistryHive::CurrentUser, kBrowserEmulationKey, self, *c.value, RegistryView::View64);
    EXPECT_EQ(IsBrowserEmulationSet(), c.expected);
  }
  // Another program's value says nothing about this one.
  Platform::RegDeleteValue(RegistryHive::CurrentUser, kBrowserEmulationKey, self, RegistryView::View64);
  ASSERT_TRUE(SetBrowserEmulation(L"omk-setup", 11000));
  EXPECT_FALSE(IsBrowserEmulationSet());
}

// The value is named after the program file as it is stored, whatever it was built as.
TEST_F(BrowserEmulationTest, ProgramStoredUnderAnotherNameUsesThatName) {
  const fs::path renamed = Root() / "bin" / "Quarro Setup (2) \u00e9.exe";
  fs::create_directories(renamed.parent_path());
  fs::copy_file(OMK_GUARD_HELPER, renamed);
  std::vector<std::string> lines;
  auto helper = StartHelper({"--emulation"}, &lines, renamed.string());
  ASSERT_EQ(lines, std::vector<std::string>{"emulation Quarro Setup (2) \u00e9.exe set"});
  const auto value = Stored(L"Quarro Setup (2) \u00e9.exe");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->number, 11000u);
  EXPECT_FALSE(Stored(L"omk-guard-helper"));
  helper->CloseStdin();
  EXPECT_EQ(helper->Wait(), 0);
  EXPECT_FALSE(Stored(L"Quarro Setup (2) \u00e9.exe"));
}

}  // namespace
}  // namespace GuardTests
