#include "browser/browser_window.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <map>

#include "browser/browser_emulation.h"
#include "browser/main_thread.h"
#include "browser/page_address.h"
#include "browser/script_bridge.h"
#include "platform/text.h"

namespace BrowserControl {

namespace {

// The bridges by view; main thread only.
std::map<WebKitWebView*, std::weak_ptr<CScriptBridge>>& Bridges() {
  static std::map<WebKitWebView*, std::weak_ptr<CScriptBridge>> bridges;
  return bridges;
}

void RefuseRequest(WebKitURISchemeRequest* request) {
  static const char body[] = "{\"e\":-2147024891}";  // E_ACCESSDENIED
  GInputStream* stream = g_memory_input_stream_new_from_data(body, sizeof body - 1, nullptr);
  WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(stream, sizeof body - 1);
  webkit_uri_scheme_response_set_status(response, 403, "Forbidden");
  webkit_uri_scheme_response_set_content_type(response, "application/json");
  SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  soup_message_headers_append(headers, "Access-Control-Allow-Origin", "*");
  webkit_uri_scheme_response_set_http_headers(response, headers);
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
  g_object_unref(stream);
}

void OnBridgeRequest(WebKitURISchemeRequest* request, gpointer) {
  WebKitWebView* view = webkit_uri_scheme_request_get_web_view(request);
  auto it = Bridges().find(view);
  std::shared_ptr<CScriptBridge> bridge = it == Bridges().end() ? nullptr : it->second.lock();
  if (!bridge) {
    RefuseRequest(request);
    return;
  }
  bridge->HandleRequest(request);
}

// One web context for every window of the program: ephemeral (nothing written to the user's
// folders), with the bridge scheme, which pages of any origin may call.
WebKitWebContext* SharedContext() {
  static WebKitWebContext* context = [] {
    WebKitWebContext* c = webkit_web_context_new_ephemeral();
    webkit_web_context_set_cache_model(c, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    webkit_web_context_register_uri_scheme(c, kBridgeScheme, OnBridgeRequest, nullptr, nullptr);
    WebKitSecurityManager* security = webkit_web_context_get_security_manager(c);
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, kBridgeScheme);
    webkit_security_manager_register_uri_scheme_as_secure(security, kBridgeScheme);
    return c;
  }();
  return context;
}

// The engine's own user agent, with "rv:11.0" among its platform tokens when asked.
std::string UserAgent(WebKitSettings* settings, bool version11) {
  std::string agent = webkit_settings_get_user_agent(settings);
  if (version11) {
    const size_t close = agent.find(')');
    if (close != std::string::npos) {
      agent.insert(close, "; rv:11.0");
    } else {
      agent += " (rv:11.0)";
    }
  }
  return agent;
}

bool IsBlankDocument(const char* uri) {
  return uri && (g_ascii_strcasecmp(uri, "about:blank") == 0 || g_ascii_strcasecmp(uri, "about:srcdoc") == 0);
}

}  // namespace

void CDocumentWaiter::Signal() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = true;
  }
  m_changed.notify_all();
}

void CDocumentWaiter::Reset() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_signalled = false;
}

bool CDocumentWaiter::IsSignalled() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_signalled;
}

bool CDocumentWaiter::Wait(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_signalled; });
}

bool IsFilteredBrowserKey(unsigned keyval, unsigned state) {
  switch (keyval) {
    case GDK_KEY_Back:
    case GDK_KEY_Forward:
    case GDK_KEY_Refresh:
    case GDK_KEY_Reload:
    case GDK_KEY_Stop:
    case GDK_KEY_Search:
    case GDK_KEY_Favorites:
    case GDK_KEY_HomePage:
    case GDK_KEY_Menu:
    case GDK_KEY_F5:
    case GDK_KEY_F10:
      return true;
    default:
      break;
  }
  if (state & GDK_CONTROL_MASK) {
    switch (gdk_keyval_to_lower(keyval)) {
      case GDK_KEY_f:
      case GDK_KEY_p:
      case GDK_KEY_n:
      case GDK_KEY_o:
      case GDK_KEY_l:
        return true;
      default:
        break;
    }
  }
  if (state & GDK_MOD1_MASK) {
    switch (keyval) {
      case GDK_KEY_Left:
      case GDK_KEY_Right:
      case GDK_KEY_KP_Left:
      case GDK_KEY_KP_Right:
        return true;
      default:
        break;
    }
  }
  return false;
}

struct CBrowserWindow::Signals {
  static gboolean Key(GtkWidget*, GdkEventKey* event, gpointer) {
    if (IsFilteredBrowserKey(event->keyval, event->state)) return TRUE;
    // Letters count by their key on the first layout too, so Ctrl+P is Ctrl+P on any layout.
    guint base = 0;
    GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_window_get_display(event->window));
    if (gdk_keymap_translate_keyboard_state(keymap, event->hardware_keycode, static_cast<GdkModifierType>(0), 0,
                                            &base, nullptr, nullptr, nullptr) &&
        base != event->keyval && IsFilteredBrowserKey(base, event->state)) {
      return TRUE;
    }
    return FALSE;
  }

  // The mouse's back and forward buttons are browser keys too.
  static gboolean Button(GtkWidget*, GdkEventButton* event, gpointer) {
    return event->button == 8 || event->button == 9 ? TRUE : FALSE;
  }

  static gboolean ContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent* event, WebKitHitTestResult*,
                              gpointer data) {
    auto* self = static_cast<CBrowserWindow*>(data);
    if (self->m_contextMenu) {
      gdouble x = 0, y = 0;
      if (!event || !gdk_event_get_root_coords(event, &x, &y)) {
        GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
        gint px = 0, py = 0;
        if (seat) gdk_device_get_position(gdk_seat_get_pointer(seat), nullptr, &px, &py);
        x = px;
        y = py;
      }
      self->m_contextMenu->ShowContextMenu(static_cast<int>(x), static_cast<int>(y));
    }
    return TRUE;  // the browser's own menu never shows
  }

  static gboolean DecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                               gpointer data) {
    auto* self = static_cast<CBrowserWindow*>(data);
    switch (type) {
      case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
        WebKitNavigationAction* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
        if (uri && (IsInsideFolder(self->m_folder, uri) || IsBlankDocument(uri))) {
          webkit_policy_decision_use(decision);
        } else {
          webkit_policy_decision_ignore(decision);
        }
        return TRUE;
      }
      case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION:
        webkit_policy_decision_ignore(decision);
        return TRUE;
      case WEBKIT_POLICY_DECISION_TYPE_RESPONSE:
        // What the view cannot show would become a download: refused.
        if (webkit_response_policy_decision_is_mime_type_supported(WEBKIT_RESPONSE_POLICY_DECISION(decision))) {
          webkit_policy_decision_use(decision);
        } else {
          webkit_policy_decision_ignore(decision);
        }
        return TRUE;
      default:
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }
  }

  static void LoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
    if (event != WEBKIT_LOAD_FINISHED) return;
    const char* uri = webkit_web_view_get_uri(view);
    if (!uri || IsBlankDocument(uri)) return;
    static_cast<CBrowserWindow*>(data)->OnDocumentComplete(uri);
  }

  // A failed navigation is not reported to the page; the window is only repainted.
  static gboolean LoadFailed(WebKitWebView* view, WebKitLoadEvent, gchar*, GError*, gpointer) {
    gtk_widget_queue_draw(gtk_widget_get_toplevel(GTK_WIDGET(view)));
    return FALSE;
  }

  static gboolean Permission(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
    webkit_permission_request_deny(request);
    return TRUE;
  }

  static gboolean Refuse(WebKitWebView*, gpointer, gpointer) { return TRUE; }
  static gboolean RefuseFullscreen(WebKitWebView*, gpointer) { return TRUE; }
};

CBrowserWindow::CBrowserWindow(std::shared_ptr<JS::CJSObjects> objects, std::wstring mainUrl,
                               std::shared_ptr<IContextMenuHandler> contextMenu)
    : m_objects(std::move(objects)), m_mainUrl(std::move(mainUrl)), m_contextMenu(std::move(contextMenu)) {}

CBrowserWindow::~CBrowserWindow() {
  if (m_bridge) m_bridge->Detach();
  if (m_view) {
    Bridges().erase(m_view);
    g_signal_handlers_disconnect_by_data(m_view, this);
    webkit_web_view_stop_loading(m_view);
    gtk_widget_destroy(GTK_WIDGET(m_view));
    g_object_unref(m_view);
  }
}

bool CBrowserWindow::Create(GtkWidget* parent) {
  InitMainThread();
  if (m_view || !parent || !GTK_IS_CONTAINER(parent)) return false;
  m_pageUri = PageUriFromTarget(Platform::WideToUtf8(m_mainUrl));
  m_folder = PageFolderOf(m_pageUri);
  if (m_pageUri.empty() || m_folder.empty()) return false;

  WebKitSettings* settings = webkit_settings_new();
  webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
  webkit_settings_set_javascript_can_access_clipboard(settings, FALSE);
  webkit_settings_set_auto_load_images(settings, TRUE);
  webkit_settings_set_enable_page_cache(settings, FALSE);
  webkit_settings_set_enable_back_forward_navigation_gestures(settings, FALSE);
  // The page reads its own files (translations) beside it.
  webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
  webkit_settings_set_allow_universal_access_from_file_urls(settings, FALSE);
  webkit_settings_set_user_agent(settings, UserAgent(settings, IsBrowserEmulationSet()).c_str());

  WebKitUserContentManager* content = webkit_user_content_manager_new();
  m_view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", SharedContext(), "settings", settings,
                                        "user-content-manager", content, nullptr));
  g_object_ref_sink(m_view);
  g_object_unref(settings);

  auto external = MakeComObject<JS::CExternalDispatch>(m_objects);
  const std::string folder = m_folder;
  m_bridge = CScriptBridge::Create(m_view, CComPtr<IDispatch>(external.get()),
                                   [folder](const char* uri) { return IsInsideFolder(folder, uri); });
  Bridges()[m_view] = m_bridge;

  // Only pages inside the folder get window.external (and the token).
  const std::string pattern = FolderUrlPattern(m_folder);
  const gchar* allow[] = {pattern.c_str(), nullptr};
  WebKitUserScript* script = webkit_user_script_new(
      m_bridge->PageScript().c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
      pattern.empty() ? nullptr : allow, nullptr);
  webkit_user_content_manager_add_script(content, script);
  webkit_user_script_unref(script);
  g_object_unref(content);

  g_signal_connect(m_view, "key-press-event", G_CALLBACK(Signals::Key), this);
  g_signal_connect(m_view, "key-release-event", G_CALLBACK(Signals::Key), this);
  g_signal_connect(m_view, "button-press-event", G_CALLBACK(Signals::Button), this);
  g_signal_connect(m_view, "button-release-event", G_CALLBACK(Signals::Button), this);
  g_signal_connect(m_view, "context-menu", G_CALLBACK(Signals::ContextMenu), this);
  g_signal_connect(m_view, "decide-policy", G_CALLBACK(Signals::DecidePolicy), this);
  g_signal_connect(m_view, "load-changed", G_CALLBACK(Signals::LoadChanged), this);
  g_signal_connect(m_view, "load-failed", G_CALLBACK(Signals::LoadFailed), this);
  g_signal_connect(m_view, "permission-request", G_CALLBACK(Signals::Permission), this);
  g_signal_connect(m_view, "print", G_CALLBACK(Signals::Refuse), this);
  g_signal_connect(m_view, "show-notification", G_CALLBACK(Signals::Refuse), this);
  g_signal_connect(m_view, "enter-fullscreen", G_CALLBACK(Signals::RefuseFullscreen), this);

  // A second browser window of a dialog lies over the first.
  if (GTK_IS_OVERLAY(parent) && gtk_bin_get_child(GTK_BIN(parent))) {
    gtk_overlay_add_overlay(GTK_OVERLAY(parent), GTK_WIDGET(m_view));
  } else {
    gtk_container_add(GTK_CONTAINER(parent), GTK_WIDGET(m_view));
  }
  webkit_web_view_load_uri(m_view, m_pageUri.c_str());
  return true;
}

void CBrowserWindow::Show() {
  if (m_view) gtk_widget_show(GTK_WIDGET(m_view));
}

void CBrowserWindow::Hide() {
  if (m_view) gtk_widget_hide(GTK_WIDGET(m_view));
}

bool CBrowserWindow::IsVisible() const { return m_view && gtk_widget_get_visible(GTK_WIDGET(m_view)); }

void CBrowserWindow::Stop() {
  if (m_view) webkit_web_view_stop_loading(m_view);
}

void CBrowserWindow::CallGlobalFunction(const std::wstring& name) {
  if (m_bridge) m_bridge->CallGlobalFunction(name);
}

void CBrowserWindow::SetDocumentWaiter(std::shared_ptr<CDocumentWaiter> waiter) {
  std::lock_guard<std::mutex> lock(m_waiterMutex);
  m_waiter = std::move(waiter);
}

bool CBrowserWindow::CanGoBack() const { return m_view && webkit_web_view_can_go_back(m_view); }

bool CBrowserWindow::CanGoForward() const { return m_view && webkit_web_view_can_go_forward(m_view); }

GtkWidget* CBrowserWindow::Widget() const { return m_view ? GTK_WIDGET(m_view) : nullptr; }

void CBrowserWindow::OnDocumentComplete(const std::string&) {
  std::lock_guard<std::mutex> lock(m_waiterMutex);
  if (m_waiter) m_waiter->Signal();
}

}  // namespace BrowserControl
