#include "tests/gui/page/page_host.h"

#include <cairo.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace PageTest {

namespace {

// The engine check looks for "rv:11.0" in the browser's version text.
constexpr const char* kUserAgent =
    "Mozilla/5.0 (X11; Linux x86_64; Trident/7.0; rv:11.0) like Gecko";
// No single step of a scenario takes this long unless something is broken.
constexpr auto kStepLimit = std::chrono::seconds(30);
constexpr int kLoadWidth = 1400;
constexpr int kLoadHeight = 1000;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
  if (event == WEBKIT_LOAD_FINISHED) static_cast<PageHost*>(self)->OnLoadFinished();
}

gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, gpointer self) {
  if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
      type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    return FALSE;
  }
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  const bool allowed = type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
                       static_cast<PageHost*>(self)->OnNavigation(uri ? uri : "");
  if (allowed) {
    webkit_policy_decision_use(decision);
  } else {
    if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
      static_cast<PageHost*>(self)->OnNavigation(std::string("new window: ") + (uri ? uri : ""));
    }
    webkit_policy_decision_ignore(decision);
  }
  return TRUE;
}

struct JsResult {
  bool done = false;
  std::string json;
  std::string error;
};

void OnJsDone(GObject* view, GAsyncResult* result, gpointer data) {
  auto* out = static_cast<JsResult*>(data);
  GError* error = nullptr;
  JSCValue* value = webkit_web_view_call_async_javascript_function_finish(
      WEBKIT_WEB_VIEW(view), result, &error);
  if (!value) {
    out->error = error ? error->message : "unknown script error";
    if (error) g_error_free(error);
  } else {
    gchar* json = jsc_value_to_json(value, 0);
    out->json = json ? json : "null";
    g_free(json);
    g_object_unref(value);
  }
  out->done = true;
}

struct Snapshot {
  bool done = false;
  cairo_surface_t* surface = nullptr;
  std::string error;
};

void OnSnapshot(GObject* view, GAsyncResult* result, gpointer data) {
  auto* out = static_cast<Snapshot*>(data);
  GError* error = nullptr;
  out->surface = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(view), result, &error);
  if (!out->surface) {
    out->error = error ? error->message : "no snapshot";
    if (error) g_error_free(error);
  }
  out->done = true;
}

gboolean OnStepLimit(gpointer flag) {
  *static_cast<bool*>(flag) = true;
  return G_SOURCE_REMOVE;
}

std::string Quote(const std::string& text) { return boost::json::serialize(boost::json::value(text)); }

}  // namespace

PageHost::PageHost(std::filesystem::path pageDir, std::filesystem::path scriptDir)
    : m_page(std::move(pageDir)) {
  gchar* uri = g_filename_to_uri((m_page / "index.html").c_str(), nullptr, nullptr);
  if (!uri) throw std::runtime_error("bad page path " + m_page.string());
  m_pageUri = uri;
  g_free(uri);
  m_standIn = ReadFile(scriptDir / "standin.js") + "\n" + ReadFile(scriptDir / "checks.js");

  WebKitWebsiteDataManager* data = webkit_website_data_manager_new_ephemeral();
  WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(data);
  g_object_unref(data);
  m_view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, nullptr));
  g_object_unref(context);
  WebKitSettings* settings = webkit_web_view_get_settings(m_view);
  webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  g_signal_connect(m_view, "load-changed", G_CALLBACK(OnLoadChanged), this);
  g_signal_connect(m_view, "decide-policy", G_CALLBACK(OnDecidePolicy), this);

  m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_decorated(GTK_WINDOW(m_window), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(m_window), kLoadWidth, kLoadHeight);
  gtk_container_add(GTK_CONTAINER(m_window), GTK_WIDGET(m_view));
  gtk_widget_show_all(m_window);
  gtk_window_present(GTK_WINDOW(m_window));
  gtk_widget_grab_focus(GTK_WIDGET(m_view));
}

PageHost::~PageHost() {
  if (m_window) gtk_widget_destroy(m_window);
  while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
}

template <typename Done>
void PageHost::Pump(Done done, const char* what) {
  bool expired = false;
  const guint timer = g_timeout_add(
      static_cast<guint>(std::chrono::milliseconds(kStepLimit).count()), OnStepLimit, &expired);
  while (!done() && !expired) g_main_context_iteration(nullptr, TRUE);
  if (expired) throw std::runtime_error(std::string("gave up waiting for ") + what);
  g_source_remove(timer);
}

bool PageHost::OnNavigation(const std::string& uri) {
  if (uri == m_pageUri) return true;
  m_blocked.push_back(uri);
  return false;
}

void PageHost::Resize(int width, int height) {
  gtk_window_resize(GTK_WINDOW(m_window), width, height);
  const std::string body = "return await new Promise(function (resolve) {"
      "  function fits() { return innerWidth === " + std::to_string(width) +
      " && innerHeight === " + std::to_string(height) + "; }"
      "  if (fits()) { resolve(true); return; }"
      "  addEventListener('resize', function f() {"
      "    if (fits()) { removeEventListener('resize', f); resolve(true); } });"
      "});";
  Js(body);
}

void PageHost::Load(const StandIn& s) {
  WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(m_view);
  webkit_user_content_manager_remove_all_scripts(content);
  boost::json::object config{{"installer", s.installer},       {"language", s.language},
                             {"languageThrows", s.languageThrows}, {"dpi", s.dpi},
                             {"startResult", s.startResult}};
  const std::string source = "window.__omkConfig = " + boost::json::serialize(config) + ";\n" + m_standIn;
  WebKitUserScript* script = webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                    WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
                                                    nullptr, nullptr);
  webkit_user_content_manager_add_script(content, script);
  webkit_user_script_unref(script);
  webkit_settings_set_user_agent(webkit_web_view_get_settings(m_view), s.engine11 ? kUserAgent : nullptr);

  gtk_window_resize(GTK_WINDOW(m_window), kLoadWidth, kLoadHeight);
  m_blocked.clear();
  m_width = m_height = 0;
  m_loaded = false;
  webkit_web_view_load_uri(m_view, m_pageUri.c_str());
  Pump([this] { return m_loaded; }, "the page to load");
}

void PageHost::Start(const StandIn& s) {
  Load(s);
  WaitForCall("basewnd.show");
  for (const auto& call : Calls()) {
    if (call.name == "basewnd.show" && call.refused.empty()) {
      m_width = static_cast<int>(call.args.at(0).to_number<double>());
      m_height = static_cast<int>(call.args.at(1).to_number<double>());
    }
  }
  Resize(m_width, m_height);
  // Images and fonts are in before anything is measured or photographed.
  Js("await document.fonts.ready; return true;");
}

boost::json::value PageHost::Js(const std::string& body) {
  JsResult result;
  webkit_web_view_call_async_javascript_function(m_view, body.c_str(), -1, nullptr, nullptr,
                                                 nullptr, nullptr, OnJsDone, &result);
  Pump([&result] { return result.done; }, "a script result");
  if (!result.error.empty()) throw std::runtime_error("script failed: " + result.error + "\n" + body);
  return boost::json::parse(result.json);
}

std::string PageHost::JsString(const std::string& body) {
  const auto value = Js(body);
  return value.is_string() ? std::string(value.as_string()) : boost::json::serialize(value);
}

std::vector<Call> PageHost::Calls() {
  std::vector<Call> out;
  const boost::json::value calls = Js("return omkTest.calls();");
  for (const auto& entry : calls.as_array()) {
    const auto& o = entry.as_object();
    Call call;
    call.name = o.at("name").as_string().c_str();
    call.args = o.at("args").as_array();
    if (o.contains("refused")) call.refused = o.at("refused").as_string().c_str();
    out.push_back(std::move(call));
  }
  return out;
}

std::vector<Call> PageHost::NativeCalls(size_t from) {
  std::vector<Call> out;
  const auto all = Calls();
  for (size_t i = from; i < all.size(); ++i) {
    if (all[i].name.rfind("xhr.", 0) != 0) out.push_back(all[i]);
  }
  return out;
}

void PageHost::WaitForCall(const std::string& name) {
  Js("return await omkTest.waitFor(" + Quote(name) + ");");
}

void PageHost::Click(const std::string& id) {
  const auto where = Js(
      "var e = document.getElementById(" + Quote(id) + ");"
      "if (!e) { throw new Error('no element'); }"
      "var r = e.getBoundingClientRect();"
      "var x = Math.round(r.left + r.width / 2), y = Math.round(r.top + r.height / 2);"
      "var top = document.elementFromPoint(x, y);"
      "return { x: x, y: y, hit: !!top && (top === e || e.contains(top)),"
      "         top: top ? (top.id || top.nodeName) : '' };").as_object();
  if (!where.at("hit").as_bool()) {
    throw std::runtime_error("#" + id + " is covered by " + std::string(where.at("top").as_string()));
  }
  const int x = static_cast<int>(where.at("x").to_number<double>());
  const int y = static_cast<int>(where.at("y").to_number<double>());
  Js("return omkTest.arm('click');");

  GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(m_view));
  GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(gtk_widget_get_display(GTK_WIDGET(m_view))));
  int rootX = 0, rootY = 0;
  gdk_window_get_root_coords(window, x, y, &rootX, &rootY);
  for (GdkEventType type : {GDK_MOTION_NOTIFY, GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
    GdkEvent* event = gdk_event_new(type);
    if (type == GDK_MOTION_NOTIFY) {
      event->motion.window = GDK_WINDOW(g_object_ref(window));
      event->motion.time = GDK_CURRENT_TIME;
      event->motion.x = x;
      event->motion.y = y;
      event->motion.x_root = rootX;
      event->motion.y_root = rootY;
    } else {
      event->button.window = GDK_WINDOW(g_object_ref(window));
      event->button.time = GDK_CURRENT_TIME;
      event->button.x = x;
      event->button.y = y;
      event->button.x_root = rootX;
      event->button.y_root = rootY;
      event->button.button = 1;
      event->button.state = type == GDK_BUTTON_RELEASE ? GDK_BUTTON1_MASK : 0;
    }
    gdk_event_set_device(event, pointer);
    gtk_main_do_event(event);
    gdk_event_free(event);
  }
  Js("return await omkTest.armed('click');");
}

void PageHost::Key(unsigned keyval, unsigned modifiers) {
  Js("return omkTest.arm('keyup');");
  GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(m_view));
  GdkDevice* keyboard = gdk_seat_get_keyboard(gdk_display_get_default_seat(gtk_widget_get_display(GTK_WIDGET(m_view))));
  GdkKeymapKey* keys = nullptr;
  int count = 0;
  guint16 code = 0;
  if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_display_get_default()), keyval, &keys, &count) &&
      count > 0) {
    code = static_cast<guint16>(keys[0].keycode);
  }
  g_free(keys);
  for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
    GdkEvent* event = gdk_event_new(type);
    event->key.window = GDK_WINDOW(g_object_ref(window));
    event->key.time = GDK_CURRENT_TIME;
    event->key.keyval = keyval;
    event->key.state = modifiers;
    event->key.hardware_keycode = code;
    gdk_event_set_device(event, keyboard);
    gtk_main_do_event(event);
    gdk_event_free(event);
  }
  Js("return await omkTest.armed('keyup');");
}

std::string PageHost::ActiveElementId() {
  return JsString("var e = document.activeElement; return e ? (e.id || e.nodeName) : '';");
}

void PageHost::Screenshot(const std::filesystem::path& file) {
  // Two frames, so the last change is painted.
  Js("return await new Promise(function (r) { requestAnimationFrame(function () {"
     " requestAnimationFrame(function () { r(true); }); }); });");
  Snapshot shot;
  webkit_web_view_get_snapshot(m_view, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE,
                               nullptr, OnSnapshot, &shot);
  Pump([&shot] { return shot.done; }, "a snapshot");
  if (!shot.surface) throw std::runtime_error("snapshot failed: " + shot.error);
  std::filesystem::create_directories(file.parent_path());
  const cairo_status_t status = cairo_surface_write_to_png(shot.surface, file.c_str());
  cairo_surface_destroy(shot.surface);
  if (status != CAIRO_STATUS_SUCCESS) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace PageTest
