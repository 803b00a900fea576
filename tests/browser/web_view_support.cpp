#include "tests/browser/web_view_support.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <memory>

#include "browser/main_thread.h"

namespace TestSupport {

namespace {

struct EvalState {
  bool done = false;
  std::string result;
};

void OnEvaluated(GObject* view, GAsyncResult* result, gpointer data) {
  auto* state = static_cast<EvalState*>(data);
  GError* error = nullptr;
  JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
  if (!value) {
    state->result = std::string("!") + (error ? error->message : "no value");
    g_clear_error(&error);
  } else {
    char* json = jsc_value_is_undefined(value) ? nullptr : jsc_value_to_json(value, 0);
    state->result = json ? json : "null";
    g_free(json);
    g_object_unref(value);
  }
  state->done = true;
}

}  // namespace

std::string EvalJson(WebKitWebView* view, const std::string& script) {
  auto* state = new EvalState();
  webkit_web_view_evaluate_javascript(view, script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr,
                                      nullptr, OnEvaluated, state);
  if (!BrowserControl::RunMainLoopUntil([state] { return state->done; }, 20000)) {
    return "!timed out";  // the state is left to the late callback
  }
  std::string result = state->result;
  delete state;
  return result;
}

boost::json::value Eval(WebKitWebView* view, const std::string& script) {
  const std::string text = EvalJson(view, script);
  if (!text.empty() && text[0] == '!') {
    ADD_FAILURE() << "script failed: " << script << ": " << text;
    return nullptr;
  }
  boost::system::error_code ec;
  boost::json::value v = boost::json::parse(text, ec);
  if (ec) ADD_FAILURE() << "not JSON: " << text;
  return v;
}

void Drain() {
  auto done = std::make_shared<bool>(false);
  BrowserControl::PostToMainThread([done] { *done = true; }, BrowserControl::kPostLow);
  BrowserControl::RunMainLoopUntil([done] { return *done; }, 20000);
}

bool WaitForScript(WebKitWebView* view, const std::string& script) {
  const gint64 end = g_get_monotonic_time() + 20 * G_USEC_PER_SEC;
  while (g_get_monotonic_time() < end) {
    if (EvalJson(view, "!!(" + script + ")") == "true") return true;
    // Poll again after a frame's time, serving the main loop meanwhile.
    BrowserControl::RunMainLoopUntil([] { return false; }, 16);
  }
  return false;
}

bool SaveScreenshot(GtkWidget* window, const std::filesystem::path& path) {
  // Once the window has drawn itself again.
  bool drawn = false;
  const gulong id = g_signal_connect(window, "draw", G_CALLBACK(+[](GtkWidget*, void*, gpointer data) -> gboolean {
                                       *static_cast<bool*>(data) = true;
                                       return FALSE;
                                     }),
                                     &drawn);
  gtk_widget_queue_draw(window);
  BrowserControl::RunMainLoopUntil([&] { return drawn; }, 20000);
  g_signal_handler_disconnect(window, id);
  Drain();
  BrowserControl::RunMainLoopUntil([] { return false; }, 100);  // the web view's frame reaches the screen
  GdkWindow* gdkWindow = gtk_widget_get_window(window);
  if (!gdkWindow) return false;
  const int width = gdk_window_get_width(gdkWindow), height = gdk_window_get_height(gdkWindow);
  GdkPixbuf* pixels = gdk_pixbuf_get_from_window(gdkWindow, 0, 0, width, height);
  if (!pixels) return false;
  const gboolean saved = gdk_pixbuf_save(pixels, path.c_str(), "png", nullptr, nullptr);
  g_object_unref(pixels);
  return saved;
}

}  // namespace TestSupport
