// The installer page's objects: "installer", "installationDetails", "ga", and the progress
// callback that carries the install manager's notifications from its workers to the page.
#include <gtest/gtest.h>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <cwchar>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "browser/page_thread.h"
#include "core/install_manager_impl.h"
#include "gui/ga_js_object.h"
#include "gui/install_progress_js_callback.h"
#include "gui/installer_js_objects.h"
#include "tests/browser/script_test_support.h"
#include "tests/core/analytics_fixture.h"
#include "tests/core/install_fakes.h"

namespace CustomInstaller::Gui {
namespace {

using namespace BrowserControl;
using BrowserTest::CallResult;
using BrowserTest::CRecorder;
using BrowserTest::RecordedCall;
using BrowserTest::Str;
using Core::CInstallManager;
using Core::IInstallManager;
using Core::JS::IInstallProgressJSCallback;
using namespace Core::Testing;

const std::vector<std::wstring> kCallbackMethods = {L"onStarted", L"onProgress", L"onError", L"onCancel",
                                                    L"onFinish"};
const std::string kSuccess = "t=event&ec=Install&ea=InstallerSuccessW";
const std::string kFailure = "t=event&ec=Install&ea=InstallerFailureW";

InstallationDetails Details(const wchar_t* commandLine) { return InstallationDetails(InstallerOptions(commandLine)); }

VARIANT Object(IDispatch* object) { return MakeVariantDispatch(object); }

std::vector<DISPID> IdsOf(IDispatch* object, const std::vector<const wchar_t*>& names) {
  std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names.data(), static_cast<uint32_t>(names.size()), 1024, ids.data()),
            S_OK);
  return ids;
}

// An install manager that answers as told and keeps the last progress callback.
class CAnsweringManager final : public IInstallManager {
 public:
  bool Start(std::shared_ptr<IInstallProgressJSCallback> progress) override {
    ++starts;
    last = std::move(progress);
    return startAnswer;
  }
  bool Cancel() override {
    ++cancels;
    return cancelAnswer;
  }
  void Stop() override {}

  bool startAnswer = true;
  bool cancelAnswer = true;
  int starts = 0;
  int cancels = 0;
  std::shared_ptr<IInstallProgressJSCallback> last;
};

class CRecordingSender final : public GA::IGASender {
 public:
  bool SendScreen(const std::wstring& name) override {
    sent.push_back(L"screen " + name);
    return true;
  }
  bool SendEvent(const std::wstring& action, const std::wstring& category, const std::wstring& label,
                 int64_t value) override {
    sent.push_back(action + L"/" + category + L"/" + label + L"/" + std::to_wstring(value));
    return true;
  }
  std::vector<std::wstring> sent;
};

// Every call into a script object is made on the page thread, as the browser makes it.
class ScriptObjectsTest : public CustomInstaller::Testing::RecordedAnalyticsTest {
 protected:
  CallResult Call(IDispatch* object, const std::wstring& member, std::vector<VARIANT> args = {},
                  bool withResult = true) {
    CallResult out;
    EXPECT_TRUE(page->RunAndWait([&] { out = BrowserTest::Call(object, member, std::move(args), withResult); }));
    return out;
  }
  boost::thread::id PageId() {
    boost::thread::id id;
    page->RunAndWait([&] { id = boost::this_thread::get_id(); });
    return id;
  }
  std::shared_ptr<CInstallManager> RealManager() {
    return CInstallManager::Create(std::make_unique<FakeSource>(journal, handles),
                                   std::make_unique<FakeLauncher>(journal, handles),
                                   std::make_shared<FakeSession>(journal));
  }
  // As the workers report: progress and the outcome of the download on one thread, the
  // launch's on another that runs with interruption disabled.
  void FromWorkers(std::function<void()> download, std::function<void()> launch = {}) {
    boost::thread worker([&] {
      download();
      if (!launch) return;
      boost::thread run([&] {
        boost::this_thread::disable_interruption noInterruption;
        launch();
      });
      run.join();
    });
    worker.join();
  }
  void ReportReady() { handles.source.lock()->OnSourceReady(std::make_shared<FakeInstaller>()); }

  Journal journal;
  Handles handles;
  std::shared_ptr<CQueuedPageThread> page = CQueuedPageThread::Start();
};

std::vector<std::wstring> Methods(const std::vector<RecordedCall>& calls) {
  std::vector<std::wstring> names;
  for (const auto& c : calls) names.push_back(c.method);
  return names;
}

TEST_F(ScriptObjectsTest, InstallerRefusesWrongCallsAndAnswersAsTheManagerDoes) {
  auto manager = std::make_shared<CAnsweringManager>();
  const auto installer = MakeComObject<CInstallerJSObject>(Details(L""), manager);
  const auto callback = MakeComObject<CRecorder>(kCallbackMethods);
  EXPECT_EQ(installer->GetName(), L"installer");
  EXPECT_EQ(IdsOf(installer.get(), {L"start", L"cancel", L"getDetails"}), (std::vector<DISPID>{1, 2, 3}));

  struct Refused {
    const char* what;
    const wchar_t* member;
    std::vector<VARIANT> args;
    bool withResult;
  };
  const std::vector<Refused> refused = {
      {"start without an argument", L"start", {}, true},
      {"start with a string", L"start", {Str(L"callback")}, true},
      {"start with a null object", L"start", {Object(nullptr)}, true},
      {"start with two objects", L"start", {Object(callback.get()), Object(callback.get())}, true},
      {"start whose result is not used", L"start", {Object(callback.get())}, false},
      {"cancel with an argument", L"cancel", {MakeVariantI4(1)}, true},
      {"cancel whose result is not used", L"cancel", {}, false},
      {"getDetails with an argument", L"getDetails", {Str(L"x")}, true},
      {"getDetails whose result is not used", L"getDetails", {}, false},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Call(installer.get(), c.member, c.args, c.withResult).hr, E_INVALIDARG);
  }
  EXPECT_EQ(manager->starts, 0);
  EXPECT_EQ(manager->cancels, 0);

  struct Answer {
    bool startAnswer, cancelAnswer;
  };
  for (const Answer a : {Answer{true, true}, Answer{false, false}}) {
    manager->startAnswer = a.startAnswer;
    manager->cancelAnswer = a.cancelAnswer;
    const auto started = Call(installer.get(), L"start", {Object(callback.get())});
    EXPECT_EQ(started.hr, S_OK);
    EXPECT_EQ(started.value.vt, VT_BOOL);
    EXPECT_EQ(started.value.boolVal, a.startAnswer ? VARIANT_TRUE : VARIANT_FALSE);
    EXPECT_NE(std::dynamic_pointer_cast<CInstallProgressJSCallback>(manager->last), nullptr);
    const auto cancelled = Call(installer.get(), L"cancel");
    EXPECT_EQ(cancelled.hr, S_OK);
    EXPECT_EQ(cancelled.value.vt, VT_BOOL);
    EXPECT_EQ(cancelled.value.boolVal, a.cancelAnswer ? VARIANT_TRUE : VARIANT_FALSE);
  }
  // Each start has a callback of its own.
  const auto first = manager->last;
  Call(installer.get(), L"start", {Object(callback.get())});
  EXPECT_NE(manager->last, first);
  EXPECT_EQ(manager->starts, 3);

  // Once the manager is gone both answer false, with no error for the page.
  manager->startAnswer = manager->cancelAnswer = true;
  manager.reset();
  for (const auto& [member, args] : {std::pair<const wchar_t*, std::vector<VARIANT>>{L"start", {Object(callback.get())}},
                                     {L"cancel", {}}}) {
    const auto r = Call(installer.get(), member, args);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.value.vt, VT_BOOL);
    EXPECT_EQ(r.value.boolVal, VARIANT_FALSE);
  }
}

TEST_F(ScriptObjectsTest, DetailsAreACopyOfTheRecordAndGetUIDAlwaysFails) {
  const auto installer = MakeComObject<CInstallerJSObject>(
      Details(L"/BUILD_ID=77 /TRACKING=tr-9 /OSOURCE=mail /LANG=de"), std::weak_ptr<IInstallManager>());
  const auto got = Call(installer.get(), L"getDetails");
  ASSERT_EQ(got.hr, S_OK);
  ASSERT_EQ(got.value.vt, VT_DISPATCH);
  IDispatch* details = got.value.pdispVal.get();
  ASSERT_NE(details, nullptr);
  EXPECT_NE(Call(installer.get(), L"getDetails").value.pdispVal.get(), details);  // a new one each time
  EXPECT_EQ(IdsOf(details, {L"getBuildId", L"getOSource", L"getTracking", L"getVersion", L"getLanguage", L"getUID"}),
            (std::vector<DISPID>{1, 2, 3, 4, 5, 6}));

  struct Value {
    const wchar_t* member;
    const wchar_t* text;
  };
  for (const auto& v : {Value{L"getBuildId", L"77"}, Value{L"getOSource", L"mail"}, Value{L"getTracking", L"tr-9"},
                        Value{L"getVersion", L"3.10.1.2"}, Value{L"getLanguage", L"de"}}) {
    SCOPED_TRACE(std::string(v.member, v.member + wcslen(v.member)));
    const auto r = Call(details, v.member);
    EXPECT_EQ(r.hr, S_OK);
    ASSERT_EQ(r.value.vt, VT_BSTR);
    EXPECT_EQ(r.value.bstrVal, std::wstring(v.text));
    EXPECT_EQ(Call(details, v.member, {}, false).hr, E_INVALIDARG);
    EXPECT_EQ(Call(details, v.member, {MakeVariantI4(1)}).hr, E_INVALIDARG);
  }
  // A record without options: build id "0", the version still the product's.
  const auto plain = MakeComObject<CInstallationDetailsJSObject>(Details(L""));
  EXPECT_EQ(Call(plain.get(), L"getBuildId").value.bstrVal, std::wstring(L"0"));
  EXPECT_EQ(Call(plain.get(), L"getVersion").value.bstrVal, std::wstring(L"3.10.1.2"));
  EXPECT_EQ(Call(plain.get(), L"getTracking").value.bstrVal, std::wstring());

  const auto uid = Call(details, L"getUID");
  EXPECT_EQ(uid.hr, E_NOTIMPL);
  EXPECT_EQ(uid.value.vt, VT_EMPTY);
  EXPECT_EQ(Call(details, L"getUID", {}, false).hr, E_INVALIDARG);
  EXPECT_EQ(Call(details, L"getUID", {Str(L"x")}).hr, E_INVALIDARG);
}

TEST_F(ScriptObjectsTest, GaChecksItsArgumentsAndPassesHitsToTheSender) {
  auto sender = std::make_shared<CRecordingSender>();
  const auto ga = MakeComObject<CGAJSObject>(sender);
  EXPECT_EQ(ga->GetName(), L"ga");
  EXPECT_EQ(IdsOf(ga.get(), {L"sendScreen", L"sendEvent"}), (std::vector<DISPID>{1, 2}));
  const auto event = [](std::vector<VARIANT> extra = {}) {
    std::vector<VARIANT> args = {Str(L"Click"), Str(L"Page"), Str(L"Main")};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  struct Case {
    const char* what;
    const wchar_t* member;
    std::vector<VARIANT> args;
    bool withResult;
    HRESULT hr;
    const wchar_t* sent;  // null: nothing
  };
  const std::vector<Case> cases = {
      {"screen", L"sendScreen", {Str(L"Welcome")}, false, S_OK, L"screen Welcome"},
      {"screen whose result is used", L"sendScreen", {Str(L"Welcome")}, true, E_INVALIDARG, nullptr},
      {"screen without a name", L"sendScreen", {}, false, E_INVALIDARG, nullptr},
      {"screen with an empty name", L"sendScreen", {Str(L"")}, false, E_INVALIDARG, nullptr},
      {"screen with the null string", L"sendScreen", {MakeVariantBstr(std::nullopt)}, false, E_INVALIDARG, nullptr},
      {"screen with a number", L"sendScreen", {MakeVariantI4(3)}, false, E_INVALIDARG, nullptr},
      {"screen with two names", L"sendScreen", {Str(L"A"), Str(L"B")}, false, E_INVALIDARG, nullptr},
      {"event of three texts", L"sendEvent", event(), false, S_OK, L"Click/Page/Main/-1"},
      {"event with a value", L"sendEvent", event({MakeVariantI4(7)}), false, S_OK, L"Click/Page/Main/7"},
      {"event with a fractional value", L"sendEvent", event({MakeVariantR8(2.9)}), false, S_OK, L"Click/Page/Main/2"},
      {"event with a short value", L"sendEvent", event({MakeVariantI2(-3)}), false, S_OK, L"Click/Page/Main/-3"},
      {"event with a text value", L"sendEvent", event({Str(L"7")}), false, E_INVALIDARG, nullptr},
      {"event with a null value", L"sendEvent", event({MakeVariantNull()}), false, E_INVALIDARG, nullptr},
      {"event whose result is used", L"sendEvent", event(), true, E_INVALIDARG, nullptr},
      {"event of two texts", L"sendEvent", {Str(L"Click"), Str(L"Page")}, false, E_INVALIDARG, nullptr},
      {"event of five arguments", L"sendEvent", event({MakeVariantI4(1), MakeVariantI4(2)}), false, E_INVALIDARG,
       nullptr},
      {"event with an empty action", L"sendEvent", {Str(L""), Str(L"Page"), Str(L"Main")}, false, E_INVALIDARG,
       nullptr},
      {"event with an empty category", L"sendEvent", {Str(L"Click"), Str(L""), Str(L"Main")}, false, E_INVALIDARG,
       nullptr},
      {"event with an empty label", L"sendEvent", {Str(L"Click"), Str(L"Page"), Str(L"")}, false, E_INVALIDARG,
       nullptr},
      {"event with a number as label", L"sendEvent", {Str(L"Click"), Str(L"Page"), MakeVariantI4(1)}, false,
       E_INVALIDARG, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sender->sent.clear();
    EXPECT_EQ(Call(ga.get(), c.member, c.args, c.withResult).hr, c.hr);
    EXPECT_EQ(sender->sent, c.sent ? std::vector<std::wstring>{c.sent} : std::vector<std::wstring>{});
  }

  // Without a sender a sound call fails; a wrong one is still a wrong argument.
  const auto mute = MakeComObject<CGAJSObject>(nullptr);
  EXPECT_EQ(Call(mute.get(), L"sendScreen", {Str(L"Welcome")}, false).hr, E_FAIL);
  EXPECT_EQ(Call(mute.get(), L"sendEvent", event(), false).hr, E_FAIL);
  EXPECT_EQ(Call(mute.get(), L"sendEvent", {Str(L"Click"), Str(L"Page"), Str(L"")}, false).hr, E_INVALIDARG);

  // Through the real sender, as hits.
  const auto real = MakeComObject<CGAJSObject>(std::make_shared<GA::CGASender>());
  EXPECT_EQ(Call(real.get(), L"sendScreen", {Str(L"Welcome")}, false).hr, S_OK);
  EXPECT_EQ(Call(real.get(), L"sendEvent", event(), false).hr, S_OK);
  EXPECT_EQ(Call(real.get(), L"sendEvent", event({MakeVariantI4(7)}), false).hr, S_OK);
  EXPECT_EQ(Hits(), (std::vector<std::string>{"t=screenview&cd=Welcome", "t=event&ec=Page&ea=Click&cd=Main",
                                              "t=event&ec=Page&ea=Click&ev=7&cd=Main"}));
}

TEST_F(ScriptObjectsTest, NotificationsFromWorkersReachTheScriptOnThePageThreadInOrder) {
  const auto pageId = PageId();
  const auto manager = RealManager();
  const auto installer = MakeComObject<CInstallerJSObject>(Details(L""), manager);
  const auto callback = MakeComObject<CRecorder>(kCallbackMethods);
  const auto started = Call(installer.get(), L"start", {Object(callback.get())});
  ASSERT_EQ(started.hr, S_OK);
  EXPECT_EQ(started.value.boolVal, VARIANT_TRUE);
  EXPECT_EQ(journal.Take(), std::vector<std::string>{"source.start"});

  FromWorkers(
      [&] {
        handles.sourceProgress->OnProgress(12.5f);
        handles.sourceProgress->OnProgress(50.0f);
        ReportReady();
      },
      [&] {
        handles.launcherProgress->OnProgress(75.25f);
        clock->Advance(4200);
        handles.launcher.lock()->OnLaunchSucceeded();
      });

  // Each notification returned only after it had run: everything is there once they are back.
  const auto calls = callback->Calls();
  EXPECT_EQ(Methods(calls), (std::vector<std::wstring>{L"onStarted", L"onProgress", L"onProgress", L"onProgress",
                                                       L"onProgress", L"onFinish"}));
  const std::vector<float> progress = {0.0f, 12.5f, 50.0f, 75.25f};
  for (size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(calls[i].thread, pageId);
    if (calls[i].method != L"onProgress") {
      EXPECT_TRUE(calls[i].args.empty());
      continue;
    }
    ASSERT_EQ(calls[i].args.size(), 1u);
    EXPECT_EQ(calls[i].args[0].vt, VT_R4);
    EXPECT_EQ(calls[i].args[0].fltVal, progress.at(i - 1));
  }
  EXPECT_EQ(Hits(), (std::vector<std::string>{kSuccess, "t=timing&utc=Install&utv=InstallDuration&utt=4200"}));
}

TEST_F(ScriptObjectsTest, AFailedOrCancelledInstallationSendsNoTimingAndTryAgainMeasuresAnew) {
  struct Case {
    const char* what;
    std::function<void()> download, launch;
    std::wstring outcome;
    int code;  // of onError
    std::vector<std::string> hits;
  };
  const std::vector<Case> cases = {
      {"no component", [&] { handles.source.lock()->OnSourceFailed(); }, {}, L"onError", 0, {kFailure}},
      {"installer file rejected", [&] { ReportReady(); }, [&] { handles.launcher.lock()->OnLaunchFailed(1); },
       L"onError", 1, {kFailure}},
      {"product installer failed", [&] { ReportReady(); }, [&] { handles.launcher.lock()->OnLaunchFailed(0); },
       L"onError", 0, {kFailure}},
      {"download cancelled", [&] { handles.source.lock()->OnSourceCancelled(); }, {}, L"onCancel", 0, {}},
      {"product installer cancelled", [&] { ReportReady(); }, [&] { handles.launcher.lock()->OnLaunchCancelled(); },
       L"onCancel", 0, {}},
  };
  const auto manager = RealManager();
  const auto installer = MakeComObject<CInstallerJSObject>(Details(L""), manager);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto callback = MakeComObject<CRecorder>(kCallbackMethods);
    ASSERT_EQ(Call(installer.get(), L"start", {Object(callback.get())}).value.boolVal, VARIANT_TRUE);
    clock->Advance(1000);
    FromWorkers(c.download, c.launch);
    const auto calls = callback->Calls();
    ASSERT_EQ(Methods(calls), (std::vector<std::wstring>{L"onStarted", L"onProgress", c.outcome}));
    if (c.outcome == L"onError") {
      ASSERT_EQ(calls[2].args.size(), 1u);
      EXPECT_EQ(calls[2].args[0].vt, VT_INT);
      EXPECT_EQ(calls[2].args[0].intVal, c.code);
    } else {
      EXPECT_TRUE(calls[2].args.empty());
    }
    EXPECT_EQ(Hits(), c.hits);
    Restart();
  }

  // "Try again" after a failure: the timing runs from the new start.
  const auto failed = MakeComObject<CRecorder>(kCallbackMethods);
  Call(installer.get(), L"start", {Object(failed.get())});
  clock->Advance(60000);
  FromWorkers([&] { handles.source.lock()->OnSourceFailed(); });
  clock->Advance(5000);
  const auto again = MakeComObject<CRecorder>(kCallbackMethods);
  Call(installer.get(), L"start", {Object(again.get())});
  clock->Advance(300);
  FromWorkers([&] { ReportReady(); }, [&] { handles.launcher.lock()->OnLaunchSucceeded(); });
  EXPECT_EQ(Methods(failed->Calls()), (std::vector<std::wstring>{L"onStarted", L"onProgress", L"onError"}));
  EXPECT_EQ(Methods(again->Calls()), (std::vector<std::wstring>{L"onStarted", L"onProgress", L"onFinish"}));
  const auto hits = Hits();
  EXPECT_EQ(hits, (std::vector<std::string>{kFailure, kSuccess, "t=timing&utc=Install&utv=InstallDuration&utt=300"}));
  // A second finish report sends no second timing.
  boost::thread([&] { handles.launcherProgress->OnFinish(); }).join();
  EXPECT_EQ(Hits().size(), 3u);
  EXPECT_EQ(Methods(again->Calls()).back(), L"onFinish");
}

TEST_F(ScriptObjectsTest, MissingOrFailingScriptMethodsAreSkipped) {
  const auto manager = RealManager();
  const auto installer = MakeComObject<CInstallerJSObject>(Details(L""), manager);
  // No "onStarted", and "onProgress" throws.
  const auto callback = MakeComObject<CRecorder>(std::vector<std::wstring>{L"onProgress", L"onFinish"});
  callback->onCall = [](const RecordedCall& call) {
    if (call.method == L"onProgress") throw std::runtime_error("page script failed");
  };
  EXPECT_EQ(Call(installer.get(), L"start", {Object(callback.get())}).value.boolVal, VARIANT_TRUE);
  clock->Advance(900);
  FromWorkers(
      [&] {
        handles.sourceProgress->OnProgress(30.0f);
        ReportReady();
      },
      [&] { handles.launcher.lock()->OnLaunchSucceeded(); });
  EXPECT_EQ(Methods(callback->Calls()), (std::vector<std::wstring>{L"onProgress", L"onProgress", L"onFinish"}));
  EXPECT_EQ(journal.Take(), (std::vector<std::string>{"source.start", "launcher.launch", "session.succeeded"}));
  EXPECT_EQ(Hits(), (std::vector<std::string>{kSuccess, "t=timing&utc=Install&utv=InstallDuration&utt=900"}));
}

// A page thread run by hand on the test's thread, over the queue a host's page thread uses.
class CHandPageThread : public IPageThread {
 public:
  bool IsCurrent() const override { return boost::this_thread::get_id() == m_id; }
  bool Post(std::function<void()> call) override {
    const bool posted = queue.Post(std::move(call));
    {
      boost::lock_guard lock(m_mutex);
      ++m_posts;
    }
    m_changed.notify_all();
    return posted;
  }
  void WaitForPosts(int n) {
    boost::unique_lock lock(m_mutex);
    while (m_posts < n) m_changed.wait(lock);
  }
  CPageCallQueue queue{[] {}};

 private:
  boost::thread::id m_id = boost::this_thread::get_id();
  boost::mutex m_mutex;
  boost::condition_variable m_changed;
  int m_posts = 0;
};

TEST_F(ScriptObjectsTest, AWaitingNotificationEndsWhenThePageThreadClosesOrTheWorkerIsInterrupted) {
  constexpr auto kHang = boost::chrono::seconds(60);  // only a hang reaches it
  const auto script = MakeComObject<CRecorder>(kCallbackMethods);
  {
    // The launcher reports its outcome with interruption disabled: only closing the page
    // thread ends the wait, and then the page thread may join it.
    auto home = std::make_shared<CHandPageThread>();
    auto progress = std::make_shared<CInstallProgressJSCallback>(script.get(), home);
    progress->OnStarted();  // on the page thread itself: runs at once
    boost::thread worker([progress] {
      boost::this_thread::disable_interruption noInterruption;
      progress->OnFinish();
    });
    home->WaitForPosts(1);
    worker.interrupt();  // as a Stop does; no effect on this wait
    home->queue.Close();
    EXPECT_TRUE(worker.try_join_for(kHang));
    EXPECT_EQ(Methods(script->Calls()), std::vector<std::wstring>{L"onStarted"});
  }
  {
    // An interruptible worker leaves the notification with the interruption, and its call is
    // dropped.
    auto home = std::make_shared<CHandPageThread>();
    auto progress = std::make_shared<CInstallProgressJSCallback>(script.get(), home);
    bool interrupted = false;
    boost::thread worker([&] {
      try {
        progress->OnProgress(40.0f);
      } catch (const boost::thread_interrupted&) {
        interrupted = true;
      }
    });
    home->WaitForPosts(1);
    worker.interrupt();
    EXPECT_TRUE(worker.try_join_for(kHang));
    EXPECT_TRUE(interrupted);
    home->queue.RunPending();
    EXPECT_EQ(Methods(script->Calls()), std::vector<std::wstring>{L"onStarted"});
  }
}

}  // namespace
}  // namespace CustomInstaller::Gui
