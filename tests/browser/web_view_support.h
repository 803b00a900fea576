#pragma once
// For tests that drive a WebKitGTK view on the main thread: script evaluation in its page,
// waiting for a condition there, and screenshots of a window.
#include <filesystem>
#include <string>

#include <boost/json.hpp>

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;

namespace TestSupport {

// Runs `script` (an expression) in the view's page and gives its value as JSON text, or
// "!" followed by the error message when it threw or did not end within 20 s.
std::string EvalJson(WebKitWebView* view, const std::string& script);

// The same, parsed; a throw fails the test.
boost::json::value Eval(WebKitWebView* view, const std::string& script);

// Runs the main loop until every call posted to the main thread so far has run.
void Drain();

// Runs the main loop until `script` is true in the page (or 20 s passed).
bool WaitForScript(WebKitWebView* view, const std::string& script);

// Writes the window's pixels to `path` as PNG. True on success.
bool SaveScreenshot(GtkWidget* window, const std::filesystem::path& path);

}  // namespace TestSupport
