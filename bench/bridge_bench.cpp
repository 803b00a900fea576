// Round trip of one window.external call from page script to a native member and back, in a
// real WebKitGTK view under a private Xvfb: the page calls a native member 10,000 times in a
// loop, each call waiting for the one before; the member notes the time of each call (the
// page's own clock is coarsened to 1 ms), so the gap between two calls is one full round trip.
// external.basewnd.getDPI() is timed as a whole in the page as well. Prints the median, the
// 99th percentile and the mean in milliseconds.
#include <memory>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <boost/json.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "browser/browser_window.h"
#include "browser/glib_page_thread.h"
#include "browser/main_thread.h"
#include "browser/window_wrappers.h"
#include "tests/support/xvfb.h"


namespace {

using namespace BrowserControl;

// "clock": tick() notes when it was called and returns how many calls came before.
class CClock : public JS::custom_object<CClock> {
 public:
  CClock() { RegisterMethod(L"tick", &CClock::Tick); }
  std::wstring GetName() const override { return L"clock"; }
  virtual HRESULT Tick(DISPPARAMS* params, VARIANT* result, EXCEPINFO*, uint32_t*) {
    if (HRESULT hr = JS::CheckCall(params, 0, result, JS::EResultSlot::kRequired); FAILED(hr)) return hr;
    times.push_back(std::chrono::steady_clock::now());
    JS::SetResultInt(result, static_cast<int32_t>(times.size()));
    return S_OK;
  }
  std::vector<std::chrono::steady_clock::time_point> times;
};

struct Evaluation {
  bool done = false;
  std::string json;
};

void OnEvaluated(GObject* view, GAsyncResult* result, gpointer data) {
  auto* e = static_cast<Evaluation*>(data);
  GError* error = nullptr;
  JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
  if (value) {
    char* json = jsc_value_to_json(value, 0);
    e->json = json ? json : "";
    g_free(json);
    g_object_unref(value);
  } else {
    e->json = std::string("error: ") + (error ? error->message : "?");
    g_clear_error(&error);
  }
  e->done = true;
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = 10000;
  std::unique_ptr<TestSupport::Xvfb> xvfb;
  try {
    xvfb = std::make_unique<TestSupport::Xvfb>(1280, 800);
  } catch (const std::exception& e) {
    fprintf(stderr, "bridge bench: %s\n", e.what());
    return 1;
  }
  const TestSupport::Xvfb& server = *xvfb;
  setenv("DISPLAY", server.Display().c_str(), 1);
  setenv("GDK_BACKEND", "x11", 1);
  unsetenv("WAYLAND_DISPLAY");
  setenv("NO_AT_BRIDGE", "1", 1);
  if (!gtk_init_check(&argc, &argv)) return 1;
  BrowserControl::CGlibPageThread::Main();

  const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("omk-bridge-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "index.html") << "<!DOCTYPE html><html><body><p>bench</p></body></html>";

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 400, 300);
  auto objects = std::make_shared<BrowserControl::JS::CJSObjectsSimpleContainer>();
  auto basewnd = BrowserControl::MakeComObject<BrowserControl::JS::CJSWindowWrapper>(
      std::make_shared<BrowserControl::CSingleWindowWrapper>(window), [] { return BrowserControl::ScreenDpi(); });
  BrowserControl::JS::AddObject(*objects, basewnd.get());
  auto clock = BrowserControl::MakeComObject<CClock>();
  BrowserControl::JS::AddObject(*objects, clock.get());
  auto browser = std::make_unique<BrowserControl::CBrowserWindow>(objects, (folder / "index.html").wstring());
  auto waiter = std::make_shared<BrowserControl::CDocumentWaiter>();
  browser->SetDocumentWaiter(waiter);
  browser->Create(window);
  browser->Show();
  gtk_widget_show(window);
  int rc = 1;
  if (BrowserControl::RunMainLoopUntil([&] { return waiter->IsSignalled(); }, 30000)) {
    const std::string script =
        "(() => { const w = window.external.basewnd; let check = 0;"
        " for (let i = 0; i < 200; i++) check += w.getDPI();"
        " const t = new Array(" + std::to_string(calls) + "); const start = performance.now();"
        " for (let i = 0; i < t.length; i++) { const a = performance.now(); check += w.getDPI(); t[i] = performance.now() - a; }"
        " const total = performance.now() - start; const c = window.external.clock;"
        " for (let i = 0; i < 200; i++) c.tick();"
        " for (let i = 0; i <= t.length; i++) c.tick();"
        " return {total, check}; })()";
    auto* e = new Evaluation();
    webkit_web_view_evaluate_javascript(browser->View(), script.c_str(), -1, nullptr, nullptr, nullptr, OnEvaluated, e);
    BrowserControl::RunMainLoopUntil([e] { return e->done; }, 120000);
    boost::system::error_code ec;
    boost::json::value v = boost::json::parse(e->json, ec);
    if (!ec && v.is_object()) {
      // The timed calls are the last calls + 1 ticks; the first 200 warm up.
      std::vector<double> t;
      const auto& times = clock->times;
      for (size_t i = times.size() - calls; i < times.size(); ++i) {
        t.push_back(std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
      }
      std::sort(t.begin(), t.end());
      double sum = 0;
      for (double x : t) sum += x;
      const double median = t[t.size() / 2], p99 = t[std::min(t.size() - 1, t.size() * 99 / 100)];
      printf("bridge round trip over %d calls: median %.3f ms, p99 %.3f ms, mean %.3f ms, max %.3f ms; "
             "getDPI() mean %.3f ms (goal: median <= 0.5 ms)\n",
             calls, median, p99, sum / calls, t.back(), v.at("total").to_number<double>() / calls);
      rc = 0;
    } else {
      fprintf(stderr, "bridge bench: %s\n", e->json.c_str());
    }
  }
  browser.reset();
  gtk_widget_destroy(window);
  std::filesystem::remove_all(folder);
  return rc;
}
