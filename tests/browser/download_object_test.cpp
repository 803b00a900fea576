// The "download" object against a local server: progress, the one final callback, the target
// file kept only on success, and a page thread that drops the object while it calls back.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "browser/js_downloader.h"
#include "browser/page_thread.h"
#include "platform/text.h"
#include "tests/browser/script_test_support.h"
#include "tests/support/dev_server.h"
#include "tests/support/env.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace BrowserControl;
using BrowserTest::Call;
using BrowserTest::CRecorder;
using BrowserTest::RecordedCall;
using BrowserTest::Str;
namespace fs = std::filesystem;

const std::vector<std::wstring> kCallbackMethods = {L"onProgress", L"onCancelled", L"onFinished", L"onError"};

bool IsEnd(const RecordedCall& c) { return c.method != L"onProgress"; }

class DownloadObjectTest : public testing::Test {
 protected:
  DownloadObjectTest()
      : m_server(R"({"routes": [
          {"path": "/file", "body_size": 1000000},
          {"path": "/slow", "body_size": 4000000, "trickle": {"bytes": 16384, "delay_ms": 2}}]})") {
    m_env.Set("TMPDIR", m_temp.Path().string());
  }

  std::wstring Url(const std::string& path) const { return Platform::Utf8ToWide(m_server.HttpUrl(path)); }

  // Starts a download on the page thread; returns its target path.
  std::wstring Start(const std::wstring& url, CRecorder* callback) {
    std::wstring target;
    m_page->RunAndWait([&] {
      const auto r = Call(m_downloader.get(), L"start", {Str(url), MakeVariantDispatch(callback)});
      ASSERT_EQ(r.hr, S_OK);
      ASSERT_EQ(r.value.vt, VT_BSTR);
      target = *r.value.bstrVal;
      if (onStarted) onStarted(target);
    });
    return target;
  }

  static void WaitForEnd(const CRecorder& recorder) {
    recorder.WaitFor([](const std::vector<RecordedCall>& calls) {
      for (const auto& c : calls) {
        if (IsEnd(c)) return true;
      }
      return false;
    });
  }

  // Drops the object on the page thread; its downloads' workers are gone afterwards.
  void DropDownloader() {
    m_page->RunAndWait([&] { m_downloader.Reset(); });
  }

  TestSupport::TempDir m_temp;
  TestSupport::ScopedEnv m_env;
  TestSupport::DevServer m_server;
  std::shared_ptr<CQueuedPageThread> m_page = CQueuedPageThread::Start();
  CComPtr<IDispatch> m_downloader = MakeComObject<JS::CDownloader>();
  std::function<void(const std::wstring&)> onStarted;
};

TEST_F(DownloadObjectTest, ProgressAsRoundedPercentStringsThenFinished) {
  const auto recorder = MakeComObject<CRecorder>(kCallbackMethods);
  const std::wstring target = Start(Url("/file?a=1&b=two"), recorder.get());
  WaitForEnd(*recorder);
  DropDownloader();

  // The target is a new private temporary file "sm....tmp", and it holds the body.
  const fs::path path(Platform::WideToUtf8(target));
  EXPECT_EQ(path.parent_path(), m_temp.Path());
  EXPECT_EQ(path.filename().string().substr(0, 2), "sm");
  EXPECT_EQ(path.extension(), ".tmp");
  EXPECT_EQ(TestSupport::ReadFile(path), TestSupport::GeneratedBody(0, 1000000));
  // The URL's query went along with the GET.
  ASSERT_EQ(m_server.Requests().size(), 1u);
  EXPECT_EQ(m_server.Requests()[0].target, "/file?a=1&b=two");

  const auto calls = recorder->Calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls.back().method, L"onFinished");
  EXPECT_TRUE(calls.back().args.empty());
  int last = -1;
  for (size_t i = 0; i + 1 < calls.size(); ++i) {
    ASSERT_EQ(calls[i].method, L"onProgress");
    ASSERT_EQ(calls[i].args.size(), 1u);
    ASSERT_EQ(calls[i].args[0].vt, VT_BSTR);
    const std::wstring& text = *calls[i].args[0].bstrVal;
    ASSERT_FALSE(text.empty());
    ASSERT_EQ(text.find_first_not_of(L"0123456789"), std::wstring::npos) << text;
    const int percent = std::stoi(text);
    EXPECT_GE(percent, last);
    EXPECT_LE(percent, 100);
    last = percent;
  }
  EXPECT_EQ(last, 100);
}

TEST_F(DownloadObjectTest, AFailedDownloadReportsAnErrorAndLeavesNoFile) {
  for (const std::wstring& url : {Url("/missing"), std::wstring(L"http://127.0.0.1:1/refused"), std::wstring(L"not a url")}) {
    const auto recorder = MakeComObject<CRecorder>(kCallbackMethods);
    const std::wstring target = Start(url, recorder.get());
    WaitForEnd(*recorder);
    EXPECT_EQ(recorder->Methods(), (std::vector<std::wstring>{L"onError"})) << url;
    EXPECT_FALSE(fs::exists(Platform::WideToUtf8(target))) << url;
  }
}

TEST_F(DownloadObjectTest, CancelStopsTheTransferAndRemovesTheFile) {
  const auto recorder = MakeComObject<CRecorder>(kCallbackMethods);
  std::wstring id;
  onStarted = [&](const std::wstring& target) { id = target; };
  // The page cancels from its first progress callback.
  recorder->onCall = [&](const RecordedCall& call) {
    if (call.method == L"onProgress" && recorder->Calls().size() == 1) {
      EXPECT_EQ(Call(m_downloader.get(), L"cancel", {Str(id)}, false).hr, S_OK);
    }
  };
  const std::wstring target = Start(Url("/slow"), recorder.get());
  WaitForEnd(*recorder);
  EXPECT_EQ(recorder->Methods(), (std::vector<std::wstring>{L"onProgress", L"onCancelled"}));
  EXPECT_FALSE(fs::exists(Platform::WideToUtf8(target)));

  // A finished or cancelled id may be cancelled again without effect.
  m_page->RunAndWait([&] { EXPECT_EQ(Call(m_downloader.get(), L"cancel", {Str(id)}, false).hr, S_OK); });
  DropDownloader();
  EXPECT_EQ(recorder->Calls().size(), 2u);
}

TEST_F(DownloadObjectTest, DroppingTheObjectWhileAWorkerCallsBackEndsAtOnce) {
  const auto recorder = MakeComObject<CRecorder>(kCallbackMethods);
  bool dropped = false;
  // From inside a progress callback, that is while the worker waits for this very thread,
  // the page lets the object go: its destructor stops and joins the worker.
  recorder->onCall = [&](const RecordedCall& call) {
    if (call.method == L"onProgress" && !dropped) {
      dropped = true;
      m_downloader.Reset();
    }
  };
  const std::wstring target = Start(Url("/slow"), recorder.get());
  recorder->WaitForCount(1);
  m_page->RunAndWait([] {});
  EXPECT_TRUE(dropped);
  EXPECT_EQ(recorder->Methods(), (std::vector<std::wstring>{L"onProgress"}));  // nothing after the stop
  EXPECT_FALSE(fs::exists(Platform::WideToUtf8(target)));
}

}  // namespace
