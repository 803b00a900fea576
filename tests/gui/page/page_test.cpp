// The installer page in a real WebKitGTK under the program's own Xvfb, driven through a
// stand-in for the native objects: start-up, the installation callbacks, closing, links,
// the keyboard, screenshots of every state and pop-up, and texts that fit in every language.
#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <boost/json.hpp>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "tests/gui/page/page_host.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb.h"

namespace fs = std::filesystem;
using PageTest::Call;
using PageTest::PageHost;
using PageTest::StandIn;

namespace {

const std::vector<std::string> kLanguages{"da", "de", "en", "es", "fi", "fr", "it", "ja",
                                          "nl", "no", "pt-br", "ru", "sv", "tr", "zh-tw"};
const std::vector<std::string> kKeys{
    "Yes", "No", "Are_You_Sure_Exit_Setup", "waitForInstallationFinish", "Welcome", "Install_Now",
    "Installation_was_not_successful", "Try_Again", "Installation_sucessfully_completed",
    "Start_scan", "And_much_more", "Technical_Support", "Enjoy_these_features",
    "App_launches_after_install", "EULAnPP", "Click_Drive_Update", "Improve_Your_PC_Performance",
    "Backup_Restore_Drivers", "Access_New_Beta_Drivers", "Broken_installer_message",
    "Install_takes_few_seconds", "Install_was_not_complete", "Check_connection_and_try_again",
    "Cancel", "Next"};

std::string Link(const std::string& type) {
  return std::string("https://") + OMK_LINK_REDIRECT_HOST +
         "/action/?product={{product}}&LinkType=" + type +
         "&Language={{langid}}&BuildID={{buildid}}&UID={{uid}}&version={{version}}";
}

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> out;
  std::stringstream in(list);
  std::string item;
  while (std::getline(in, item, '|')) {
    if (!item.empty()) out.push_back(item);
  }
  return out;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Width and height from a PNG's header.
std::pair<uint32_t, uint32_t> PngSize(const fs::path& path) {
  const std::string data = ReadFile(path);
  if (data.size() < 24 || data.compare(1, 3, "PNG") != 0) return {0, 0};
  auto be = [&data](size_t at) {
    return (uint32_t(uint8_t(data[at])) << 24) | (uint32_t(uint8_t(data[at + 1])) << 16) |
           (uint32_t(uint8_t(data[at + 2])) << 8) | uint32_t(uint8_t(data[at + 3]));
  };
  return {be(16), be(20)};
}

std::string Names(const std::vector<Call>& calls) {
  std::string out;
  for (const auto& c : calls) out += (out.empty() ? "" : " ") + c.name;
  return out;
}

std::string Args(const Call& call) { return boost::json::serialize(call.args); }

// The page under test, copied into a temporary folder as the program extracts it.
class PageEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    xvfb = std::make_unique<TestSupport::Xvfb>(2560, 1600);
    setenv("DISPLAY", xvfb->Display().c_str(), 1);
    setenv("GDK_BACKEND", "x11", 1);
    unsetenv("WAYLAND_DISPLAY");
    setenv("GDK_SCALE", "1", 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display at " << xvfb->Display();
    temp = std::make_unique<TestSupport::TempDir>();
    fs::copy(OMK_PAGE_STAGED_DIR, temp->Path(), fs::copy_options::recursive);
    host = std::make_unique<PageHost>(temp->Path(), OMK_PAGE_TEST_SCRIPTS);
  }
  void TearDown() override {
    host.reset();
    temp.reset();
    xvfb.reset();
  }
  static std::unique_ptr<TestSupport::Xvfb> xvfb;
  static std::unique_ptr<TestSupport::TempDir> temp;
  static std::unique_ptr<PageHost> host;
};
std::unique_ptr<TestSupport::Xvfb> PageEnvironment::xvfb;
std::unique_ptr<TestSupport::TempDir> PageEnvironment::temp;
std::unique_ptr<PageHost> PageEnvironment::host;

class Page : public ::testing::Test {
 protected:
  PageHost& host = *PageEnvironment::host;

  void Start(const std::string& language = "en", int dpi = 100) {
    StandIn s;
    s.language = language;
    s.dpi = dpi;
    host.Start(s);
  }
  std::string Text(const std::string& selector) {
    return host.JsString("return $(" + boost::json::serialize(boost::json::value(selector)) + ").first().text();");
  }
  bool Visible(const std::string& selector) {
    return host.JsBool("return $(" + boost::json::serialize(boost::json::value(selector)) + ").is(':visible');");
  }
  std::string CurrentState() {
    return host.JsString("return $('.state.is-current').map(function () { return this.id; }).get().join(',');");
  }
  std::string OpenPopup() {
    return host.JsString("return $('.popup.is-open').map(function () { return this.id; }).get().join(',');");
  }
  void Callback(const std::string& call) { host.Js("omkTest.callback()." + call + "; return true;"); }
  void WaitForFade() { host.Js("await $('#common_progress_content').promise(); return true;"); }
  std::string Translation(const std::string& language, const std::string& key) {
    const auto json = boost::json::parse(ReadFile(fs::path(OMK_PAGE_STAGED_DIR) / "index/translations" / (language + ".json")));
    return std::string(json.at(key).as_string());
  }
  void ExpectNoRefusedCalls() {
    for (const auto& c : host.Calls()) EXPECT_EQ(c.refused, "") << c.name << " " << Args(c);
  }
  // Install click and onStarted: the progress state.
  size_t StartInstallation() {
    host.Click("install_button");
    host.WaitForCall("installer.start");
    Callback("onStarted()");
    return host.CallCount();
  }
  static std::string Event(const std::string& action, const std::string& label) {
    return "[\"" + action + "\",\"Install\",\"" + label + "\",-1]";
  }
};

// --- the files --------------------------------------------------------------------------------

TEST(PageFiles, EveryResourceIsStagedAndEveryImageHasASharpTwin) {
  const fs::path stage = OMK_PAGE_STAGED_DIR;
  const auto resources = Split(OMK_PAGE_RESOURCES);
  ASSERT_EQ(resources.size(), 39u);
  std::set<std::string> ids;
  for (const auto& entry : resources) {
    const auto first = entry.find(':'), second = entry.find(':', first + 1);
    ids.insert(entry.substr(0, first));
    const fs::path file = stage / entry.substr(second + 1);
    EXPECT_TRUE(fs::is_regular_file(file)) << file;
    EXPECT_GT(fs::file_size(file), 0u) << file;
    if (file.extension() == ".png") {
      const fs::path twin = file.parent_path() / (file.stem().string() + "@2x.png");
      const auto one = PngSize(file), two = PngSize(twin);
      EXPECT_GT(one.first, 0u) << file;
      EXPECT_EQ(two.first, 2 * one.first) << twin;
      EXPECT_EQ(two.second, 2 * one.second) << twin;
    }
  }
  EXPECT_EQ(ids.size(), resources.size()) << "resource ids repeat";
  EXPECT_TRUE(fs::exists(stage / "index/rc/succeeded_page/checmark-icon.png"));
  EXPECT_TRUE(fs::exists(stage / "index/js/supress-errors.js"));
  EXPECT_EQ(ReadFile(stage / "index/js/jquery-1.12.2.min.js").rfind("/*! jQuery v1.12.2 ", 0), 0u);
  EXPECT_EQ(ReadFile(stage / "index/js/jquery-migrate-1.4.1.min.js").rfind("/*! jQuery Migrate v1.4.1 ", 0), 0u);
  EXPECT_EQ(ReadFile(stage / "index/js/installer.js").find("@OMK_"), std::string::npos);
}

TEST(PageFiles, TranslationsHaveExactlyTheKeysAndAreTranslated) {
  const fs::path dir = fs::path(OMK_PAGE_STAGED_DIR) / "index/translations";
  std::map<std::string, boost::json::object> all;
  for (const auto& language : kLanguages) {
    SCOPED_TRACE(language);
    boost::json::value json;
    ASSERT_NO_THROW(json = boost::json::parse(ReadFile(dir / (language + ".json"))))
        << "not valid UTF-8 JSON";
    ASSERT_TRUE(json.is_object());
    const auto& o = json.as_object();
    std::set<std::string> keys;
    for (const auto& kv : o) {
      keys.insert(std::string(kv.key()));
      ASSERT_TRUE(kv.value().is_string()) << kv.key();
      EXPECT_FALSE(kv.value().as_string().empty()) << kv.key();
    }
    EXPECT_EQ(keys, std::set<std::string>(kKeys.begin(), kKeys.end()));
    EXPECT_EQ(o.size(), kKeys.size());
    const std::string legal(o.at("EULAnPP").as_string());
    EXPECT_NE(legal.find("<a href=\"%URL_EULA%\">"), std::string::npos) << legal;
    EXPECT_NE(legal.find("<a href=\"%URL_PP%\">"), std::string::npos) << legal;
    for (const auto& kv : o) {
      const std::string text(kv.value().as_string());
      const size_t tags = std::count(text.begin(), text.end(), '<');
      EXPECT_EQ(tags, kv.key() == "EULAnPP" ? 4u : 0u) << kv.key() << ": " << text;
    }
    all[language] = o;
  }
  fs::path extra;
  for (const auto& entry : fs::directory_iterator(dir)) {
    EXPECT_TRUE(all.count(entry.path().stem().string())) << entry.path();
  }
  // Nothing left in English: only words that are the same in both languages.
  const std::map<std::string, std::set<std::string>> same{{"es", {"No"}}, {"it", {"No"}}};
  for (const auto& [language, o] : all) {
    if (language == "en") continue;
    for (const auto& key : kKeys) {
      if (same.count(language) && same.at(language).count(key)) continue;
      EXPECT_NE(o.at(key), all["en"].at(key)) << language << " " << key << " is still English";
    }
  }
}

// --- start-up ---------------------------------------------------------------------------------

TEST_F(Page, StartUpReadsDpiAppliesTheTranslationAndShowsTheMeasuredPage) {
  Start("en");
  const auto calls = host.NativeCalls();
  EXPECT_EQ(Names(calls),
            "basewnd.getDPI installer.getDetails installationDetails.getLanguage basewnd.show "
            "ga.sendScreen");
  EXPECT_EQ(Args(calls.back()), "[\"Welcome\"]");
  const auto size = host.Js(
      "var r = document.getElementById('container').getBoundingClientRect();"
      "return [Math.ceil(r.width), Math.ceil(document.body.getBoundingClientRect().height)];").as_array();
  EXPECT_EQ(Args(calls[3]), "[" + std::to_string(size[0].to_number<int>()) + "," +
                                std::to_string(size[1].to_number<int>() + 1) + "]");
  EXPECT_EQ(host.JsString("return document.documentElement.style.fontSize;"), "13px");
  EXPECT_EQ(CurrentState(), "welcome_page");
  EXPECT_EQ(Text("#install_button"), Translation("en", "Install_Now"));
  EXPECT_EQ(Text("#welcome_title"), Translation("en", "Welcome"));
  EXPECT_EQ(host.JsString("return jQuery.fn.jquery;"), "1.12.2");
  EXPECT_EQ(host.JsString("return jQuery.migrateVersion;"), "1.4.1");
  EXPECT_EQ(host.JsString("return document.documentElement.lang;"), "en");
  EXPECT_EQ(host.JsString("return $('#close_button').attr('aria-label');"), "Close");
  EXPECT_EQ(host.ActiveElementId(), "install_button");
  ExpectNoRefusedCalls();

  // 150 %: everything one and a half times as large, the sharp images in use.
  Start("ru", 150);
  EXPECT_EQ(host.JsString("return document.documentElement.style.fontSize;"), "19.5px");
  EXPECT_EQ(host.ShownWidth(), 936);
  EXPECT_EQ(host.JsString("return $('#close_button').attr('aria-label');"), "Закрыть");
  EXPECT_EQ(host.JsString("return document.documentElement.lang;"), "ru");
  EXPECT_TRUE(host.JsBool("return $('.welcome-logo')[0].currentSrc.indexOf('logo-big@2x.png') !== -1;"));
}

TEST_F(Page, WindowButtonsLieInsideTheStripAreaThatDoesNotDrag) {
  // The native window drags by the top 83 x scale pixels except 15..75 px from the right edge
  // and 15..45 px from the top (times the scale).
  for (const int dpi : {100, 125, 150, 200}) {
    SCOPED_TRACE(dpi);
    Start("en", dpi);
    const double scale = dpi / 100.0;
    const double width = host.ShownWidth();
    for (const char* id : {"minimize_button", "close_button"}) {
      const auto r = host.Js(std::string("var r = document.getElementById('") + id +
                             "').getBoundingClientRect(); return [r.left, r.top, r.right, r.bottom];").as_array();
      EXPECT_GE(r[0].to_number<double>(), width - 75 * scale) << id;
      EXPECT_LE(r[2].to_number<double>(), width - 15 * scale) << id;
      EXPECT_GE(r[1].to_number<double>(), 15 * scale) << id;
      EXPECT_LE(r[3].to_number<double>(), 45 * scale) << id;
    }
  }
}

TEST_F(Page, StartUpNeverShowsWithoutTheObjectsTheTranslationOrTheEngine) {
  struct Case {
    const char* name;
    StandIn standIn;
    bool requestsTranslation;
    const char* calls;
  };
  StandIn noInstaller;
  noInstaller.installer = false;
  StandIn missing;
  missing.language = "xx";
  StandIn oldEngine;
  oldEngine.engine11 = false;
  StandIn path;
  path.language = "../en";
  const Case cases[] = {
      {"no installer object", noInstaller, false, ""},
      {"no translation file", missing, true,
       "basewnd.getDPI installer.getDetails installationDetails.getLanguage"},
      {"engine without rv:11.0", oldEngine, true,
       "basewnd.getDPI installer.getDetails installationDetails.getLanguage"},
      {"language that is a path", path, false,
       "basewnd.getDPI installer.getDetails installationDetails.getLanguage"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    host.Load(c.standIn);
    if (c.requestsTranslation) host.WaitForCall("xhr.loadend");
    EXPECT_EQ(Names(host.NativeCalls()), c.calls);
    bool requested = false;
    for (const auto& call : host.Calls()) requested |= call.name == "xhr.loadend";
    EXPECT_EQ(requested, c.requestsTranslation);
    EXPECT_EQ(CurrentState(), "");
  }
  // With the old engine the texts were in place; only the window stays hidden.
  host.Load(oldEngine);
  host.WaitForCall("xhr.loadend");
  EXPECT_EQ(Text("#install_button"), Translation("en", "Install_Now"));
}

TEST_F(Page, LanguageFallsBackToEnglishAndIgnoresLetterCase) {
  StandIn throws;
  throws.languageThrows = true;
  host.Start(throws);
  EXPECT_EQ(Text("#install_button"), Translation("en", "Install_Now"));

  StandIn upper;
  upper.language = "DE";
  host.Start(upper);
  EXPECT_EQ(Text("#install_button"), Translation("de", "Install_Now"));
  EXPECT_EQ(host.JsString("return document.documentElement.lang;"), "de");
  EXPECT_EQ(host.JsString("return $('#eula_link').text();"), "Endbenutzer-Lizenzvertrag");
}

// --- the installation -------------------------------------------------------------------------

TEST_F(Page, InstallClickStartsAndTheCallbacksDriveTheProgress) {
  Start();
  const size_t before = host.CallCount();
  host.Click("install_button");
  auto calls = host.NativeCalls(before);
  ASSERT_EQ(Names(calls), "ga.sendEvent installer.start");
  EXPECT_EQ(Args(calls[0]), Event("InstallNow", "Welcome"));
  EXPECT_EQ(Args(calls[1]), "[\"[object]\"]");
  // A second click while the start is under way starts nothing more.
  host.Js("$('#install_button').prop('disabled', false)[0].click(); return true;");
  EXPECT_EQ(host.JsBool("return omkTest.callbackCount() === 1;"), true);

  size_t mark = host.CallCount();
  Callback("onStarted()");
  calls = host.NativeCalls(mark);
  ASSERT_EQ(Names(calls), "ga.sendScreen");
  EXPECT_EQ(Args(calls[0]), "[\"Progress_page1\"]");
  EXPECT_EQ(CurrentState(), "installation_progress");
  EXPECT_EQ(Text("#progress_percentage"), "0");

  mark = host.CallCount();
  Callback("onProgress(49.6)");
  EXPECT_EQ(Text("#progress_percentage"), "50");
  EXPECT_EQ(host.JsString("return document.getElementById('progress_fill').style.width;"), "50%");
  EXPECT_EQ(Text("#common_progress_content .features-title"), Translation("en", "Enjoy_these_features"));
  EXPECT_EQ(host.NativeCalls(mark).size(), 0u);

  Callback("onProgress(50)");
  calls = host.NativeCalls(mark);
  ASSERT_EQ(Names(calls), "ga.sendScreen");
  EXPECT_EQ(Args(calls[0]), "[\"Progress_page2\"]");
  EXPECT_EQ(Text("#common_progress_content .features-title"), Translation("en", "And_much_more"));
  EXPECT_TRUE(host.JsBool("return $('#common_progress_content').is(':animated');"));
  WaitForFade();
  EXPECT_EQ(host.JsString("return $('#common_progress_content').css('opacity');"), "1");

  mark = host.CallCount();
  Callback("onProgress(60)");
  EXPECT_EQ(Text("#progress_percentage"), "60");
  for (const char* ignored : {"-5", "101", "NaN", "'x'"}) {
    Callback(std::string("onProgress(") + ignored + ")");
    EXPECT_EQ(Text("#progress_percentage"), "60") << ignored;
  }
  EXPECT_EQ(host.NativeCalls(mark).size(), 0u) << Names(host.NativeCalls(mark));
  EXPECT_EQ(Text("#common_progress_content .features-title"), Translation("en", "And_much_more"));

  mark = host.CallCount();
  Callback("onFinish()");
  EXPECT_EQ(Names(host.NativeCalls(mark)), "basewnd.close");
  EXPECT_EQ(CurrentState(), "");
  ExpectNoRefusedCalls();
  EXPECT_TRUE(host.BlockedNavigations().empty());
}

TEST_F(Page, ErrorsShowTheFailedStateAndTheirPopup) {
  const struct {
    int code;
    const char* popup;
  } cases[] = {{0, ""}, {1, "brokenFilesPopup"}, {2, "connectionErrorPopup"}, {7, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    Start();
    StartInstallation();
    Callback("onProgress(30)");
    const size_t mark = host.CallCount();
    Callback("onError(" + std::to_string(c.code) + ")");
    const auto calls = host.NativeCalls(mark);
    ASSERT_EQ(Names(calls), "ga.sendScreen");
    EXPECT_EQ(Args(calls[0]), "[\"InstallFailure\"]");
    EXPECT_EQ(CurrentState(), "failed_page");
    EXPECT_EQ(OpenPopup(), c.popup);
    // A late progress report changes nothing on the failed page.
    Callback("onProgress(50)");
    EXPECT_EQ(host.NativeCalls(mark).size(), 1u);
  }
}

TEST_F(Page, TryAgainSendsItsEventAndStartsANewRun) {
  for (const char* button : {"try_again_button", "connectionErrorPopup_retry"}) {
    SCOPED_TRACE(button);
    Start();
    StartInstallation();
    Callback(std::string("onError(") + (button[0] == 't' ? "0" : "2") + ")");
    size_t mark = host.CallCount();
    host.Click(button);
    auto calls = host.NativeCalls(mark);
    ASSERT_EQ(Names(calls), "ga.sendEvent installer.start");
    EXPECT_EQ(Args(calls[0]), Event("TryAgain", "InstallFailure"));
    EXPECT_EQ(OpenPopup(), "");
    EXPECT_TRUE(host.JsBool("return omkTest.callbackCount() === 2;"));
    // The first run's callbacks are spent.
    mark = host.CallCount();
    host.Js("omkTest.callback(0).onStarted(); return true;");
    EXPECT_EQ(host.NativeCalls(mark).size(), 0u);
    Callback("onStarted()");
    calls = host.NativeCalls(mark);
    ASSERT_EQ(Names(calls), "ga.sendScreen");
    EXPECT_EQ(Args(calls[0]), "[\"Progress_page1\"]");
    EXPECT_EQ(CurrentState(), "installation_progress");
    EXPECT_EQ(Text("#progress_percentage"), "0");
    EXPECT_EQ(Text("#common_progress_content .features-title"), Translation("en", "Enjoy_these_features"));
  }
}

TEST_F(Page, PopupButtonsAfterAFailureOpenHelpOrClose) {
  const struct {
    int code;
    const char* button;
    const char* calls;
  } cases[] = {
      {1, "brokenFilesPopup_yes", "system.openInDefaultBrowser basewnd.close"},
      {1, "brokenFilesPopup_no", "basewnd.close"},
      {2, "connectionErrorPopup_close", "basewnd.close"},
      // Escape answers as "no" does.
      {1, "Escape", "basewnd.close"},
      {2, "Escape", "basewnd.close"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    Start();
    StartInstallation();
    Callback("onError(" + std::to_string(c.code) + ")");
    const size_t mark = host.CallCount();
    if (c.button == std::string("Escape")) {
      host.Key(GDK_KEY_Escape);
    } else {
      host.Click(c.button);
    }
    const auto calls = host.NativeCalls(mark);
    EXPECT_EQ(Names(calls), c.calls);
    if (calls.size() == 2) {
      EXPECT_EQ(Args(calls[0]), "[\"" + Link("SignCheck") + "\"]");
    }
  }
}

TEST_F(Page, FinishAndCancelCloseTheWindow) {
  for (const char* end : {"onFinish()", "onCancel()"}) {
    SCOPED_TRACE(end);
    Start();
    StartInstallation();
    const size_t mark = host.CallCount();
    Callback(end);
    EXPECT_EQ(Names(host.NativeCalls(mark)), "basewnd.close");
  }
}

TEST_F(Page, ARefusedStartShowsTheFailureInsteadOfWaiting) {
  StandIn refused;
  refused.startResult = false;
  host.Start(refused);
  const size_t mark = host.CallCount();
  host.Click("install_button");
  const auto calls = host.NativeCalls(mark);
  ASSERT_EQ(Names(calls), "ga.sendEvent installer.start ga.sendScreen");
  EXPECT_EQ(Args(calls[2]), "[\"InstallFailure\"]");
  EXPECT_EQ(CurrentState(), "failed_page");
  EXPECT_FALSE(host.JsBool("return $('#try_again_button').prop('disabled');"));
}

// --- closing ----------------------------------------------------------------------------------

TEST_F(Page, ClosingDuringTheInstallationOnlyAsksToWait) {
  for (const char* how : {"button", "native request"}) {
    SCOPED_TRACE(how);
    Start();
    StartInstallation();
    Callback("onProgress(55)");
    const size_t mark = host.CallCount();
    if (how[0] == 'b') {
      host.Click("close_button");
    } else {
      host.Js("closeDialogRequested(); return true;");
    }
    const auto calls = host.NativeCalls(mark);
    ASSERT_EQ(Names(calls), "ga.sendEvent");
    EXPECT_EQ(Args(calls[0]), Event("Close", "Progress_page2"));
    EXPECT_EQ(OpenPopup(), "myModal");
    EXPECT_EQ(Text("#myModal_text"), Translation("en", "waitForInstallationFinish"));
    EXPECT_EQ(CurrentState(), "installation_progress");
    host.Click("myModal_ok");
    EXPECT_EQ(OpenPopup(), "");
    EXPECT_EQ(host.NativeCalls(mark).size(), 1u);
    // The installation went on meanwhile.
    Callback("onProgress(80)");
    EXPECT_EQ(Text("#progress_percentage"), "80");
  }
}

TEST_F(Page, QuitConfirmationYesCancelsAndClosesNoDoesNothing) {
  Start();
  size_t mark = host.CallCount();
  host.Click("close_button");
  auto calls = host.NativeCalls(mark);
  ASSERT_EQ(Names(calls), "ga.sendEvent");
  EXPECT_EQ(Args(calls[0]), Event("Close", "Welcome"));
  EXPECT_EQ(OpenPopup(), "exitPopup");
  EXPECT_EQ(host.ActiveElementId(), "exitPopup_no");
  host.Click("exitPopup_no");
  EXPECT_EQ(OpenPopup(), "");
  EXPECT_EQ(host.NativeCalls(mark).size(), 1u);
  EXPECT_EQ(CurrentState(), "welcome_page");

  // The native close request asks the same question; yes ends the setup.
  mark = host.CallCount();
  host.Js("closeDialogRequested(); return true;");
  EXPECT_EQ(OpenPopup(), "exitPopup");
  host.Click("exitPopup_yes");
  calls = host.NativeCalls(mark);
  ASSERT_EQ(Names(calls), "ga.sendEvent ga.sendEvent installer.cancel basewnd.close");
  EXPECT_EQ(Args(calls[1]), Event("InstallerCancelW", "Welcome"));

  // After a failure the question carries the failure screen.
  Start();
  StartInstallation();
  Callback("onError(0)");
  mark = host.CallCount();
  host.Click("close_button");
  EXPECT_EQ(OpenPopup(), "exitPopup");
  host.Click("exitPopup_yes");
  calls = host.NativeCalls(mark);
  ASSERT_EQ(Names(calls), "ga.sendEvent ga.sendEvent installer.cancel basewnd.close");
  EXPECT_EQ(Args(calls[0]), Event("Close", "InstallFailure"));
  EXPECT_EQ(Args(calls[1]), Event("InstallerCancelW", "InstallFailure"));
}

TEST_F(Page, MinimiseSendsItsEventAndMinimises) {
  Start();
  const size_t mark = host.CallCount();
  host.Click("minimize_button");
  const auto calls = host.NativeCalls(mark);
  ASSERT_EQ(Names(calls), "ga.sendEvent basewnd.minimize");
  EXPECT_EQ(Args(calls[0]), Event("Minimize", "Welcome"));
}

// --- links ------------------------------------------------------------------------------------

TEST_F(Page, LinksOpenInTheDefaultBrowserAndNeverInThePage) {
  Start("fr");
  const struct {
    const char* id;
    const char* type;
    const char* event;
  } links[] = {{"eula_link", "EULA", "EULA"}, {"pp_link", "PPolicy", "PP"}};
  for (const auto& l : links) {
    SCOPED_TRACE(l.id);
    const size_t mark = host.CallCount();
    host.Click(l.id);
    const auto calls = host.NativeCalls(mark);
    ASSERT_EQ(Names(calls), "system.openInDefaultBrowser ga.sendEvent");
    EXPECT_EQ(Args(calls[0]), "[\"" + Link(l.type) + "\"]");
    EXPECT_EQ(Args(calls[1]), Event(l.event, "Welcome"));
  }
  // Middle click, a link dropped in or a script's navigation: nothing leaves the page either.
  host.Js("$('#eula_link')[0].dispatchEvent(new MouseEvent('click', {button: 1, bubbles: true, cancelable: true}));"
          "return true;");
  EXPECT_TRUE(host.BlockedNavigations().empty());
  EXPECT_TRUE(host.JsBool("return /index\\.html$/.test(location.pathname);"));
  EXPECT_EQ(host.JsString("return $('#eula_link').text();"), "contrat de licence utilisateur final");
  ExpectNoRefusedCalls();
}

// --- keyboard ---------------------------------------------------------------------------------

TEST_F(Page, KeyboardReachesEverythingInOrderEnterStartsEscapeSaysNo) {
  Start();
  EXPECT_EQ(host.ActiveElementId(), "install_button");
  for (const char* next : {"eula_link", "pp_link", "minimize_button", "close_button"}) {
    host.Key(GDK_KEY_Tab);
    EXPECT_EQ(host.ActiveElementId(), next);
  }
  host.Key(GDK_KEY_ISO_Left_Tab, GDK_SHIFT_MASK);
  EXPECT_EQ(host.ActiveElementId(), "minimize_button");
  EXPECT_TRUE(host.JsBool("return $('#minimize_button').is(':focus-visible');"));
  EXPECT_NE(host.JsString("return getComputedStyle($('#minimize_button')[0]).outlineStyle;"), "none");

  // Enter on the close button asks; Escape answers no; Tab stays inside the question.
  host.Key(GDK_KEY_Tab);
  size_t mark = host.CallCount();
  host.Key(GDK_KEY_Return);
  EXPECT_EQ(OpenPopup(), "exitPopup");
  EXPECT_EQ(host.ActiveElementId(), "exitPopup_no");
  host.Key(GDK_KEY_Tab);
  EXPECT_EQ(host.ActiveElementId(), "exitPopup_yes");
  host.Key(GDK_KEY_Tab);
  EXPECT_EQ(host.ActiveElementId(), "exitPopup_no");
  host.Key(GDK_KEY_Escape);
  EXPECT_EQ(OpenPopup(), "");
  EXPECT_EQ(Names(host.NativeCalls(mark)), "ga.sendEvent");
  EXPECT_EQ(host.ActiveElementId(), "close_button");

  // Enter on Install starts.
  host.Js("$('#install_button').focus(); return true;");
  mark = host.CallCount();
  host.Key(GDK_KEY_Return);
  EXPECT_EQ(Names(host.NativeCalls(mark)), "ga.sendEvent installer.start");

  // Escape closes the wait message too; the installation goes on.
  Callback("onStarted()");
  host.Js("closeDialogRequested(); return true;");
  EXPECT_EQ(OpenPopup(), "myModal");
  EXPECT_EQ(host.ActiveElementId(), "myModal_ok");
  mark = host.CallCount();
  host.Key(GDK_KEY_Escape);
  EXPECT_EQ(OpenPopup(), "");
  EXPECT_EQ(host.NativeCalls(mark).size(), 0u);
}

// --- every state, every pop-up ----------------------------------------------------------------

// Walks the page through every state and pop-up; `visit` gets each one by name.
void VisitEveryState(PageHost& host, const std::function<void(const std::string&)>& visit) {
  auto js = [&host](const std::string& body) { host.Js(body + " return true;"); };
  visit("welcome");
  js("closeDialogRequested();");
  visit("quit-confirmation");
  js("$('#exitPopup_no').click();");
  js("$('#install_button').click(); omkTest.callback().onStarted(); omkTest.callback().onProgress(23);");
  visit("progress-1");
  js("closeDialogRequested();");
  visit("wait-message");
  // The fade-in of the second content is cut short: only its end is looked at.
  js("$('#myModal_ok').click(); omkTest.callback().onProgress(64); $('#common_progress_content').finish();");
  visit("progress-2");
  js("omkTest.callback().onError(0);");
  visit("failed");
  js("omkTest.callback().onError(1);");
  visit("broken-installer");
  js("omkTest.callback().onError(2);");
  visit("connection-error");
  // Shown by no run of the script; laid out all the same.
  js("$('.popup').removeClass('is-open'); $('[inert]').removeAttr('inert');"
     "$('.state').removeClass('is-current'); $('#succeeded_page').addClass('is-current');");
  visit("succeeded");
}

TEST_F(Page, ScreenshotsOfEveryStateAndPopup) {
  const fs::path dir = OMK_PAGE_SCREENSHOTS;
  for (const char* language : {"en", "de", "ja", "ru", "zh-tw"}) {
    for (const int dpi : {96, 192}) {
      if (language == std::string("zh-tw") && dpi != 96) continue;
      SCOPED_TRACE(std::string(language) + " " + std::to_string(dpi));
      Start(language, dpi * 100 / 96);
      VisitEveryState(host, [&](const std::string& state) {
        const fs::path file = dir / (std::string(language) + "-" + std::to_string(dpi) + "dpi-" + state + ".png");
        host.Screenshot(file);
        const auto size = PngSize(file);
        EXPECT_EQ(size.first, static_cast<uint32_t>(host.ShownWidth())) << file;
        EXPECT_EQ(size.second, static_cast<uint32_t>(host.ShownHeight())) << file;
      });
    }
  }
}

TEST_F(Page, TextsFitTheirBoxesInEveryLanguageAtEveryDpi) {
  // The checks themselves: a squeezed button, a pushed-up text and a faint text are caught.
  Start("de");
  host.Js("$('#install_button').css({'min-width': '4rem', width: '4rem', 'white-space': 'nowrap'}); return true;");
  EXPECT_NE(host.JsString("return omkChecks.layoutProblems().join();").find("#install_button[Install_Now] overflows #install_button"),
            std::string::npos);
  Start("de");
  host.Js("$('#eula_text').css('margin-top', '-8rem'); $('.state-text').css('color', '#B0B8C8'); return true;");
  EXPECT_NE(host.JsString("return omkChecks.layoutProblems().join();").find("overlaps"), std::string::npos);
  EXPECT_NE(host.JsString("return omkChecks.contrastProblems().join();").find("[Install_takes_few_seconds].state-text contrast"),
            std::string::npos);

  for (const auto& language : kLanguages) {
    for (const int dpi : {96, 120, 144, 192}) {
      const std::string where = language + " at " + std::to_string(dpi) + " DPI";
      Start(language, dpi * 100 / 96);
      VisitEveryState(host, [&](const std::string& state) {
        const auto problems = host.Js("return omkChecks.layoutProblems();").as_array();
        EXPECT_TRUE(problems.empty()) << where << ", " << state << ": " << boost::json::serialize(problems);
        if (dpi == 96) {
          const auto contrast = host.Js("return omkChecks.contrastProblems();").as_array();
          EXPECT_TRUE(contrast.empty()) << where << ", " << state << ": " << boost::json::serialize(contrast);
        }
      });
      // The strip keeps its height: 83 px at 100 %.
      EXPECT_NEAR(host.Js("return document.getElementById('titlebar').getBoundingClientRect().height;").to_number<double>(),
                  83.0 * (dpi * 100 / 96) / 100.0, 0.5) << where;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new PageEnvironment);
  return RUN_ALL_TESTS();
}
