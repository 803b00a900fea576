#include "gui/installer_window.h"

#include <gtk/gtk.h>

#include "browser/child_creator.h"
#include "browser/glib_page_thread.h"
#include "browser/js_child_window.h"
#include "browser/js_downloader.h"
#include "browser/js_launcher.h"
#include "browser/js_system.h"
#include "browser/page_address.h"
#include "browser/page_thread.h"
#include "browser/window_wrappers.h"
#include "config/identity.h"
#include "core/ga_sender.h"
#include "gui/ga_js_object.h"
#include "gui/installer_js_objects.h"
#include "gui/page_resources.h"
#include "platform/text.h"
#include "products/product_list.h"

namespace CustomInstaller::Gui {

using namespace BrowserControl;

// The page thread of one installer window: the main thread, for as long as the window runs.
// Its calls wait in a queue of their own, so closing it drops the waiting ones at once, also
// while the main thread is busy elsewhere (stopping the workers that made them).
class CWindowPageThread final : public IPageThread {
 public:
  CWindowPageThread() : m_shared(std::make_shared<Shared>()) {
    m_shared->home = CGlibPageThread::Main();
    m_shared->queue = std::make_unique<CPageCallQueue>([weak = std::weak_ptr<Shared>(m_shared)] {
      if (const auto shared = weak.lock()) {
        shared->home->Post([shared] { shared->queue->RunPending(); });
      }
    });
  }
  ~CWindowPageThread() override { Close(); }

  bool IsCurrent() const override { return m_shared->home->IsCurrent(); }
  bool Post(std::function<void()> call) override { return m_shared->queue->Post(std::move(call)); }
  // Refuses further calls and drops the queued ones.
  void Close() { m_shared->queue->Close(); }

 private:
  struct Shared {
    std::shared_ptr<IPageThread> home;
    std::unique_ptr<CPageCallQueue> queue;
  };
  std::shared_ptr<Shared> m_shared;
};

namespace {

// The installer window's handle while it is initialised (as the drag handling knows it).
GtkWidget* g_installerWindow = nullptr;

}  // namespace

int32_t DragStripHeight(float scale) { return static_cast<int32_t>(83 * scale); }

bool StartsWindowMove(double x, double y, int32_t width, float scale) {
  if (x < 0 || y < 0 || x >= width || y >= DragStripHeight(scale)) return false;
  const double left = width - 75 * scale, right = width - 15 * scale;
  const double top = 15 * scale, bottom = 45 * scale;
  const bool inButtons = x >= left && x < right && y >= top && y < bottom;
  return !inButtons;
}

PresetParams PresetUrlParams(InstallationDetails details) {
  std::wstring version = details.GetVersion();
  if (version.empty()) version = Config::kProductVersion;
  return {
      {L"buildid", details.GetBuildId()}, {L"osource", details.GetSource()},
      {L"trackid", details.GetTracking()}, {L"version", version},
      {L"langid", details.GetLanguage()},  {L"product", Config::kProductCode},
      {L"uid", L""},
  };
}

CInstallerWindow::CInstallerWindow(std::wstring pageUrl, const std::shared_ptr<Core::IInstallManager>& installManager,
                                   InstallationDetails details, uint32_t showTimeoutMs)
    : CWebBaseModalDlg(pageUrl, L"", kPositionCenter, showTimeoutMs),
      m_pageUrl(std::move(pageUrl)),
      m_installManager(installManager),
      m_details(std::move(details)),
      m_pageThread(std::make_shared<CWindowPageThread>()) {
  if (gdk_display_get_default()) m_scale = static_cast<float>(ScreenDpi(nullptr)) / 96.0f;
}

CInstallerWindow::~CInstallerWindow() {
  ForgetView();
  if (g_installerWindow == Window()) g_installerWindow = nullptr;
  m_pageThread->Close();
}

bool CInstallerWindow::OpenDisplay() {
  static const bool opened = [] {
    if (!gtk_init_check(nullptr, nullptr)) return false;
    CGlibPageThread::Main();  // the main thread serves the pages
    return true;
  }();
  return opened;
}

int32_t CInstallerWindow::Run(GtkWidget* parent) {
  int32_t code = -1;
  {
    CPageThreadScope scope(m_pageThread);
    code = DoModal(parent);
  }
  m_pageThread->Close();
  ForgetView();
  g_installerWindow = nullptr;
  return code;
}

void CInstallerWindow::ForgetView() {
  if (!m_view) return;  // not watched, or finalised with its browser window
  g_signal_handlers_disconnect_by_data(m_view, this);
  g_object_remove_weak_pointer(G_OBJECT(m_view), reinterpret_cast<gpointer*>(&m_view));
  m_view = nullptr;
}

void CInstallerWindow::OnInitDialog() {
  GtkWidget* window = Window();
  g_installerWindow = window;
  gtk_window_set_title(GTK_WINDOW(window), Platform::WideToUtf8(Config::kSetupWindowTitle).c_str());
  std::string_view icon;
  if (FindProgramResource(kWindowIconId, kResourceTypeIcon, icon)) {
    GInputStream* stream = g_memory_input_stream_new_from_data(icon.data(), static_cast<gssize>(icon.size()), nullptr);
    if (GdkPixbuf* pixbuf = gdk_pixbuf_new_from_stream(stream, nullptr, nullptr)) {
      gtk_window_set_icon(GTK_WINDOW(window), pixbuf);
      g_object_unref(pixbuf);
    }
    g_object_unref(stream);
  }
  // Nothing to see until the page asks: at the origin, at the smallest size, unmapped. The
  // window exists on the display already, so a second copy of the program finds it by title.
  gtk_window_move(GTK_WINDOW(window), 0, 0);
  gtk_window_set_default_size(GTK_WINDOW(window), 1, 1);
  gtk_window_resize(GTK_WINDOW(window), 1, 1);
  gtk_widget_realize(window);

  CWebBaseModalDlg::OnInitDialog();

  if (CBrowserWindow* browser = MainBrowser()) {
    m_view = browser->Widget();
    if (m_view) {
      g_object_add_weak_pointer(G_OBJECT(m_view), reinterpret_cast<gpointer*>(&m_view));
      g_signal_connect(m_view, "button-press-event", G_CALLBACK(OnButtonPress), this);
    }
  }
}

void CInstallerWindow::RegisterJSObjects(JS::CJSObjects& container) {
  auto opener = std::make_shared<COpenInDefaultBrowserWithPresetParams>(PresetUrlParams(m_details));
  auto products = std::make_shared<ProductList::CProductList>(L"");
  JS::AddObject(container, MakeComObject<JS::CSystem>(products, opener).get());
  JS::AddObject(container, MakeComObject<JS::CLauncher>().get());
  JS::AddObject(container, MakeComObject<JS::CDownloader>(false).get());
  auto children = std::make_shared<CChildCreator>(PageUriFromTarget(Platform::WideToUtf8(m_pageUrl)));
  JS::AddObject(container, MakeComObject<JS::CChildWindow>(children).get());
  auto window = std::make_shared<CBrowserWindowWrapper>(Window(), WM_WEB_SHOW, WM_WEB_SHOW_SIZED, WM_WEB_CLOSE_WITH_CODE);
  auto windowRef = WindowRef();
  auto dpi = [windowRef] {
    GtkWidget* w = windowRef->Get();
    const int32_t value = ScreenDpi(w);
    if (w) g_object_unref(w);
    return value;
  };
  JS::AddObject(container, MakeComObject<JS::CJSWindowWrapper>(window, dpi).get());
  JS::AddObject(container, MakeComObject<CInstallerJSObject>(m_details, m_installManager).get());
  JS::AddObject(container, MakeComObject<CGAJSObject>(std::make_shared<GA::CGASender>()).get());
}

void CInstallerWindow::OnClose(int32_t) {
  if (CBrowserWindow* browser = MainBrowser()) browser->CallGlobalFunction(L"closeDialogRequested");
}

void CInstallerWindow::StartWindowMove(int32_t button, int32_t rootX, int32_t rootY, uint32_t time) {
  gtk_window_begin_move_drag(GTK_WINDOW(Window()), button, rootX, rootY, time);
}

int CInstallerWindow::OnButtonPress(GtkWidget*, GdkEventButton* event, void* data) {
  auto* self = static_cast<CInstallerWindow*>(data);
  GtkWidget* window = self->Window();
  if (!window || window != g_installerWindow || event->type != GDK_BUTTON_PRESS || event->button != 1) return FALSE;
  const int32_t width = gtk_widget_get_allocated_width(window);
  if (StartsWindowMove(event->x, event->y, width, self->m_scale)) {
    self->StartWindowMove(static_cast<int32_t>(event->button), static_cast<int32_t>(event->x_root),
                          static_cast<int32_t>(event->y_root), event->time);
  }
  return FALSE;  // the page sees the press too
}

}  // namespace CustomInstaller::Gui
