#include "tests/support/x_client.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <climits>
#include <stdexcept>

namespace TestSupport {

namespace {

Bool IsMapNotifyFor(Display*, XEvent* event, XPointer window) {
  return event->type == MapNotify && event->xmap.window == reinterpret_cast<Window>(window);
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

// Latin-1 bytes of UTF-8 text, when every character fits.
bool Utf8ToLatin1(const std::string& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size()) {
      out.push_back(static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3F)));
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

XClient::XClient(const std::string& display) {
  m_display = XOpenDisplay(display.c_str());
  if (m_display == nullptr) throw std::runtime_error("cannot open display " + display);
  XSelectInput(m_display, DefaultRootWindow(m_display), SubstructureNotifyMask);
  XSync(m_display, False);
}

XClient::~XClient() { XCloseDisplay(m_display); }

XWindowId XClient::CreateWindow(const XWindowOptions& options) {
  XSetWindowAttributes attributes{};
  attributes.override_redirect = options.overrideRedirect ? True : False;
  attributes.event_mask = StructureNotifyMask;
  const Window parent = options.parent != 0 ? options.parent : DefaultRootWindow(m_display);
  const Window window = XCreateWindow(m_display, parent, 10, 10, 200, 100, 0,
                                      CopyFromParent, InputOutput, CopyFromParent,
                                      CWOverrideRedirect | CWEventMask, &attributes);
  const Atom utf8 = XInternAtom(m_display, "UTF8_STRING", False);
  if (options.netWmName) {
    XChangeProperty(m_display, window, XInternAtom(m_display, "_NET_WM_NAME", False), utf8, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(options.title.data()),
                    static_cast<int>(options.title.size()));
  }
  std::string latin1;
  if (Utf8ToLatin1(options.title, latin1)) {
    XChangeProperty(m_display, window, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(latin1.data()), static_cast<int>(latin1.size()));
  } else {
    XChangeProperty(m_display, window, XA_WM_NAME, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(options.title.data()),
                    static_cast<int>(options.title.size()));
  }
  const long pid = options.pid < 0 ? static_cast<long>(getpid()) : options.pid;
  if (pid != 0) {
    XChangeProperty(m_display, window, XInternAtom(m_display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
  }
  const std::string host = options.host.empty() ? HostName() : options.host;
  XChangeProperty(m_display, window, XA_WM_CLIENT_MACHINE, XA_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(host.data()), static_cast<int>(host.size()));
  if (options.wmState) {
    const Atom wmState = XInternAtom(m_display, "WM_STATE", False);
    const long state[2] = {NormalState, None};
    XChangeProperty(m_display, window, wmState, wmState, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(state), 2);
  }
  if (options.map) MapWindow(window);
  XSync(m_display, False);
  return window;
}

void XClient::MapWindow(XWindowId window) {
  XMapWindow(m_display, window);
  XEvent event;
  XIfEvent(m_display, &event, &IsMapNotifyFor, reinterpret_cast<XPointer>(window));
}

void XClient::DestroyWindow(XWindowId window) {
  XDestroyWindow(m_display, window);
  XSync(m_display, False);
}

std::vector<XWindowId> XClient::StackingTopFirst() {
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  std::vector<XWindowId> result;
  if (XQueryTree(m_display, DefaultRootWindow(m_display), &root, &parent, &children, &count) != 0) {
    for (unsigned int i = count; i > 0; --i) result.push_back(children[i - 1]);
  }
  if (children != nullptr) XFree(children);
  return result;
}

XWindowId XClient::Focus() {
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(m_display, &focus, &revert);
  return focus;
}

std::vector<std::pair<XWindowId, long>> XClient::ActivationRequests() {
  XSync(m_display, False);  // everything the server sent before now is in the queue
  const Atom active = XInternAtom(m_display, "_NET_ACTIVE_WINDOW", False);
  while (XPending(m_display) > 0) {
    XEvent event;
    XNextEvent(m_display, &event);
    if (event.type == ClientMessage && event.xclient.message_type == active) {
      m_requests.emplace_back(event.xclient.window, event.xclient.data.l[0]);
    }
  }
  auto requests = std::move(m_requests);
  m_requests.clear();
  return requests;
}

void XClient::PretendWindowManager() {
  const Window check = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 1, 1, 0, 0, 0);
  const Atom name = XInternAtom(m_display, "_NET_SUPPORTING_WM_CHECK", False);
  const long value = static_cast<long>(check);
  XChangeProperty(m_display, check, name, XA_WINDOW, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&value), 1);
  XChangeProperty(m_display, DefaultRootWindow(m_display), name, XA_WINDOW, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&value), 1);
  XSync(m_display, False);
}

void XClient::Sync() { XSync(m_display, False); }

}  // namespace TestSupport
