#include "platform/top_level_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/text.h"

namespace Platform {

namespace {

// Longest property read, in 32-bit units (titles, host names).
constexpr long kMaxPropertyLongs = 4096;
// How deep a client window is looked for inside a window manager's frame.
constexpr int kMaxFrameDepth = 4;

int IgnoreXError(Display*, XErrorEvent*) { return 0; }

// One connection to the display for the length of a call, with X errors (a window that went
// away meanwhile, a bad id passed in) ignored instead of ending the program.
class Connection {
 public:
  Connection() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return;
    m_display = XOpenDisplay(nullptr);
    if (m_display != nullptr) m_previousHandler = XSetErrorHandler(&IgnoreXError);
  }
  ~Connection() {
    if (m_display == nullptr) return;
    XSync(m_display, False);  // every request done, and its errors seen by our handler
    XSetErrorHandler(m_previousHandler);
    XCloseDisplay(m_display);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  explicit operator bool() const { return m_display != nullptr; }
  Display* display() const { return m_display; }
  Window root() const { return DefaultRootWindow(m_display); }
  Atom atom(const char* name) const { return XInternAtom(m_display, name, False); }

  // The property's bytes (format 8) or 32-bit values widened to long (format 32).
  struct Property {
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    std::string bytes;
    std::vector<long> longs;
  };
  std::optional<Property> GetProperty(Window window, Atom name, Atom type = AnyPropertyType) const {
    Atom actualType = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(m_display, window, name, 0, kMaxPropertyLongs, False, type, &actualType,
                           &format, &items, &after, &data) != Success) {
      return std::nullopt;
    }
    Property property;
    property.type = actualType;
    property.format = format;
    property.items = items;
    if (data != nullptr) {
      if (format == 8) {
        property.bytes.assign(reinterpret_cast<const char*>(data), items);
      } else if (format == 32) {
        // Xlib hands 32-bit items over as longs.
        const long* values = reinterpret_cast<const long*>(data);
        property.longs.assign(values, values + items);
      }
      XFree(data);
    }
    if (actualType == None) return std::nullopt;
    return property;
  }

  std::vector<Window> Children(Window window) const {
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    std::vector<Window> result;
    if (XQueryTree(m_display, window, &rootReturn, &parent, &children, &count) != 0 &&
        children != nullptr) {
      result.assign(children, children + count);  // bottom to top
    }
    if (children != nullptr) XFree(children);
    return result;
  }

 private:
  Display* m_display = nullptr;
  XErrorHandler m_previousHandler = nullptr;
};

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::wstring Latin1ToWide(const std::string& bytes) {
  std::wstring out;
  for (unsigned char c : bytes) out.push_back(static_cast<wchar_t>(c));
  return out;
}

std::wstring Title(const Connection& x, Window window) {
  const Atom utf8 = x.atom("UTF8_STRING");
  if (const auto name = x.GetProperty(window, x.atom("_NET_WM_NAME"), utf8);
      name && name->type == utf8 && name->format == 8) {
    return Utf8ToWide(name->bytes);
  }
  const auto name = x.GetProperty(window, XA_WM_NAME);
  if (!name || name->format != 8) return {};
  if (name->type == XA_STRING) return Latin1ToWide(name->bytes);
  if (name->type == utf8) return Utf8ToWide(name->bytes);
  // Compound text and other encodings: Xlib converts them.
  std::string bytes = name->bytes;
  XTextProperty text{};
  text.value = reinterpret_cast<unsigned char*>(bytes.data());
  text.encoding = name->type;
  text.format = 8;
  text.nitems = bytes.size();
  char** list = nullptr;
  int count = 0;
  std::wstring result;
  if (Xutf8TextPropertyToTextList(x.display(), &text, &list, &count) >= Success && list != nullptr) {
    if (count > 0 && list[0] != nullptr) result = Utf8ToWide(list[0]);
    XFreeStringList(list);
  }
  return result;
}

// The owner's process id, when the window says it and was made by a program of this host.
int OwnerPid(const Connection& x, Window window, const std::string& host) {
  const auto pid = x.GetProperty(window, x.atom("_NET_WM_PID"), XA_CARDINAL);
  if (!pid || pid->format != 32 || pid->longs.empty()) return 0;
  if (const auto machine = x.GetProperty(window, XA_WM_CLIENT_MACHINE);
      machine && machine->format == 8 && !host.empty()) {
    std::string name = machine->bytes;
    while (!name.empty() && name.back() == '\0') name.pop_back();
    if (name != host) return 0;
  }
  const long value = pid->longs.front() & 0xFFFFFFFFL;
  return value > 0 && value <= INT_MAX ? static_cast<int>(value) : 0;
}

// The window inside `window` (itself included) that carries WM_STATE, looked for from the top.
Window FindClient(const Connection& x, Window window, Atom wmState, int depth) {
  if (x.GetProperty(window, wmState)) return window;
  if (depth >= kMaxFrameDepth) return 0;
  const auto children = x.Children(window);
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    if (const Window client = FindClient(x, *it, wmState, depth + 1)) return client;
  }
  return 0;
}

std::vector<TopLevelWindow> List(const Connection& x) {
  std::vector<TopLevelWindow> windows;
  const Atom wmState = x.atom("WM_STATE");
  const std::string host = HostName();
  const auto children = x.Children(x.root());
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(x.display(), *it, &attributes) == 0) continue;
    if (attributes.c_class == InputOnly || attributes.override_redirect) continue;
    Window client = FindClient(x, *it, wmState, 0);
    if (client == 0) client = *it;  // no window manager: the root's child is the window
    TopLevelWindow entry;
    entry.window = client;
    entry.title = Title(x, client);
    entry.pid = OwnerPid(x, client, host);
    entry.shown = attributes.map_state == IsViewable;
    windows.push_back(std::move(entry));
  }
  return windows;
}

// A window manager that follows the desktop conventions is running.
bool HasWindowManager(const Connection& x) {
  const Atom check = x.atom("_NET_SUPPORTING_WM_CHECK");
  const auto onRoot = x.GetProperty(x.root(), check, XA_WINDOW);
  if (!onRoot || onRoot->format != 32 || onRoot->longs.empty()) return false;
  const Window child = static_cast<Window>(onRoot->longs.front());
  const auto onChild = x.GetProperty(child, check, XA_WINDOW);
  return onChild && onChild->format == 32 && !onChild->longs.empty() &&
         static_cast<Window>(onChild->longs.front()) == child;
}

}  // namespace

bool HasDisplay() {
  Connection x;
  return static_cast<bool>(x);
}

std::vector<TopLevelWindow> ListTopLevelWindows() {
  Connection x;
  if (!x) return {};
  return List(x);
}

NativeWindow FindTopLevelWindow(std::wstring_view title) {
  for (const auto& window : ListTopLevelWindows()) {
    if (window.title == title) return window.window;
  }
  return 0;
}

NativeWindow FindTopLevelWindowOfProcesses(const std::vector<int>& pids) {
  NativeWindow hidden = 0;
  for (const auto& window : ListTopLevelWindows()) {
    if (window.pid == 0 || std::find(pids.begin(), pids.end(), window.pid) == pids.end()) continue;
    if (window.shown) return window.window;
    if (hidden == 0) hidden = window.window;
  }
  return hidden;
}

void BringWindowToFront(NativeWindow handle) {
  if (handle == 0 || handle > 0xFFFFFFFFu) return;  // X window ids have 32 bits
  Connection x;
  if (!x) return;
  const Window window = static_cast<Window>(handle);
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(x.display(), window, &attributes) == 0) return;

  // Source 2: the request comes from the user (as a pager's or task bar's would), not from an
  // application asking to steal the focus.
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = x.atom("_NET_ACTIVE_WINDOW");
  event.xclient.format = 32;
  event.xclient.data.l[0] = 2;
  event.xclient.data.l[1] = CurrentTime;
  event.xclient.data.l[2] = 0;
  XSendEvent(x.display(), x.root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);

  // Under a window manager the raise reaches it as a request; without one it is done at once.
  XRaiseWindow(x.display(), window);
  if (!HasWindowManager(x) && attributes.map_state == IsViewable) {
    XSetInputFocus(x.display(), window, RevertToParent, CurrentTime);
  }
}

}  // namespace Platform
