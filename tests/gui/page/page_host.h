#pragma once
// A small WebKitGTK host for the installer page: one window with one web view (one web
// process for all scenarios), the page loaded from a folder with a scripted stand-in for the
// native objects injected at document start, and input synthesized as GDK events.
#include <boost/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;

namespace PageTest {

struct StandIn {
  bool installer = true;        // false: window.external has no "installer"
  std::string language = "en";  // what getLanguage answers
  bool languageThrows = false;  // getLanguage throws instead
  int dpi = 100;                // what getDPI answers (percent of 96)
  bool startResult = true;      // what "start" answers
  bool engine11 = true;         // the user agent carries "rv:11.0"
};

struct Call {
  std::string name;
  boost::json::array args;
  std::string refused;  // the error the stand-in answered with, empty when accepted
};

class PageHost {
 public:
  // pageDir holds index.html and the index folder; scriptDir holds standin.js and checks.js.
  PageHost(std::filesystem::path pageDir, std::filesystem::path scriptDir);
  ~PageHost();
  PageHost(const PageHost&) = delete;
  PageHost& operator=(const PageHost&) = delete;

  // Loads index.html with a fresh stand-in and returns once the document has loaded.
  void Load(const StandIn& standIn);
  // Loads and waits for "show", then gives the window the size the page asked for.
  void Start(const StandIn& standIn);

  // Runs body as an async function in the page and returns its result (null for undefined).
  // Throws std::runtime_error with the script's message when it throws.
  boost::json::value Js(const std::string& body);
  bool JsBool(const std::string& body) { return Js(body).as_bool(); }
  std::string JsString(const std::string& body);

  std::vector<Call> Calls();
  // The calls of the native objects only (no request ends), from index `from` on.
  std::vector<Call> NativeCalls(size_t from = 0);
  size_t CallCount() { return Calls().size(); }
  void WaitForCall(const std::string& name);

  // A left click in the middle of the element; throws if something else lies on top of it.
  void Click(const std::string& elementId);
  // One key press and release (GDK key value, GDK modifier mask).
  void Key(unsigned keyval, unsigned modifiers = 0);
  std::string ActiveElementId();

  void Screenshot(const std::filesystem::path& file);
  // Navigations the page tried besides loading index.html.
  const std::vector<std::string>& BlockedNavigations() const { return m_blocked; }
  int ShownWidth() const { return m_width; }
  int ShownHeight() const { return m_height; }

  // For the GTK callbacks.
  void OnLoadFinished() { m_loaded = true; }
  bool OnNavigation(const std::string& uri);

 private:
  template <typename Done>
  void Pump(Done done, const char* what);
  void Resize(int width, int height);

  std::filesystem::path m_page;
  std::string m_pageUri;
  std::string m_standIn;
  GtkWidget* m_window = nullptr;
  WebKitWebView* m_view = nullptr;
  bool m_loaded = false;
  int m_width = 0;
  int m_height = 0;
  std::vector<std::string> m_blocked;
};

}  // namespace PageTest
