#include "tests/support/x_screen.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <png.h>
#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <utility>

namespace TestSupport {

namespace {

// A property's bytes as text, or empty.
std::string TextProperty(Display* display, Window window, Atom property) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string text;
  if (XGetWindowProperty(display, window, property, 0, 4096, False, AnyPropertyType, &type, &format, &count, &after,
                         &data) == Success &&
      data != nullptr && format == 8) {
    text.assign(reinterpret_cast<const char*>(data), count);
  }
  if (data != nullptr) XFree(data);
  return text;
}

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

}  // namespace

bool ScreenImage::SavePng(const std::filesystem::path& path) const {
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = false;
  if (png != nullptr && info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
      png_write_row(png, reinterpret_cast<png_const_bytep>(&pixels[static_cast<size_t>(y) * static_cast<size_t>(width)]));
    }
    png_write_end(png, nullptr);
    ok = true;
  }
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0 && ok;
}

XScreen::XScreen(const std::string& display) {
  m_display = XOpenDisplay(display.c_str());
  if (m_display == nullptr) throw std::runtime_error("cannot open display " + display);
  int event = 0, error = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(m_display, &event, &error, &major, &minor)) {
    XCloseDisplay(m_display);
    throw std::runtime_error("the display has no XTEST extension");
  }
  // Windows of the program under test may go away between two requests.
  XSetErrorHandler(&IgnoreErrors);
  XSelectInput(m_display, DefaultRootWindow(m_display), SubstructureNotifyMask);
  XSync(m_display, False);
}

XScreen::~XScreen() { XCloseDisplay(m_display); }

std::string XScreen::Title(XWindowId window) {
  std::string title = TextProperty(m_display, window, XInternAtom(m_display, "_NET_WM_NAME", False));
  if (title.empty()) title = TextProperty(m_display, window, XA_WM_NAME);
  return title;
}

XWindowId XScreen::FindMappedWindow(const std::string& title) {
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  XWindowId found = 0;
  if (XQueryTree(m_display, DefaultRootWindow(m_display), &root, &parent, &children, &count) != 0) {
    for (unsigned int i = count; i > 0 && found == 0; --i) {
      XWindowAttributes attributes{};
      if (XGetWindowAttributes(m_display, children[i - 1], &attributes) != 0 &&
          attributes.map_state == IsViewable && Title(children[i - 1]) == title) {
        found = children[i - 1];
      }
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

void XScreen::WaitForEvents(std::chrono::milliseconds timeout) {
  XFlush(m_display);
  if (XPending(m_display) == 0) {
    pollfd fd{ConnectionNumber(m_display), POLLIN, 0};
    poll(&fd, 1, static_cast<int>(timeout.count()));
  }
  while (XPending(m_display) > 0) {
    XEvent event;
    XNextEvent(m_display, &event);
    // Where each top-level window is, from its creation on, so that a window gone by the time its
    // map event is handled can still tell whether it was on the screen.
    if (event.type == CreateNotify && event.xcreatewindow.parent == DefaultRootWindow(m_display)) {
      const auto& c = event.xcreatewindow;
      m_places[c.window] = {c.x, c.y, c.width, c.height};
    }
    if (event.type == ConfigureNotify && event.xconfigure.event == DefaultRootWindow(m_display)) {
      const auto& c = event.xconfigure;
      m_places[c.window] = {c.x, c.y, c.width, c.height};
    }
    if (event.type == MapNotify && event.xmap.event == DefaultRootWindow(m_display)) {
      const auto place = m_places.find(event.xmap.window);
      // Toolkits map helper windows of 1 x 1 pixels off the screen: nobody sees them.
      const bool offScreen = place != m_places.end() && (place->second.x + place->second.width <= 0 ||
                                                         place->second.y + place->second.height <= 0);
      XWindowAttributes attributes{};
      const bool exists = XGetWindowAttributes(m_display, event.xmap.window, &attributes) != 0;
      if (!offScreen) m_mapped.push_back(exists ? Title(event.xmap.window) : "?");
    }
    if (event.type == KeyPress && m_closeOnAltF4 != 0) RequestClose(m_closeOnAltF4);
  }
}

XWindowId XScreen::WaitForMappedWindow(const std::string& title, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (const XWindowId window = FindMappedWindow(title)) return window;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return 0;
    // Titles can change without a map event: look again at least every 100 ms.
    WaitForEvents(std::min(left, std::chrono::milliseconds(100)));
  }
}

bool XScreen::WaitForGone(XWindowId window, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(m_display, window, &attributes) == 0 || attributes.map_state != IsViewable) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    WaitForEvents(std::min(left, std::chrono::milliseconds(100)));
  }
}

std::vector<std::string> XScreen::MappedTitles() {
  WaitForEvents(std::chrono::milliseconds(0));
  return std::exchange(m_mapped, {});
}

WindowGeometry XScreen::Geometry(XWindowId window) {
  XWindowAttributes attributes{};
  WindowGeometry geometry;
  if (XGetWindowAttributes(m_display, window, &attributes) == 0) return geometry;
  Window child = 0;
  XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), 0, 0, &geometry.x, &geometry.y, &child);
  geometry.width = attributes.width;
  geometry.height = attributes.height;
  return geometry;
}

ScreenImage XScreen::Capture(XWindowId window) {
  const WindowGeometry g = Geometry(window);
  ScreenImage image;
  if (g.width <= 0 || g.height <= 0) return image;
  XImage* shot = XGetImage(m_display, DefaultRootWindow(m_display), g.x, g.y, static_cast<unsigned>(g.width),
                           static_cast<unsigned>(g.height), AllPlanes, ZPixmap);
  if (shot == nullptr) return image;
  image.width = g.width;
  image.height = g.height;
  image.pixels.resize(static_cast<size_t>(g.width) * static_cast<size_t>(g.height));
  for (int y = 0; y < g.height; ++y) {
    for (int x = 0; x < g.width; ++x) {
      const unsigned long p = XGetPixel(shot, x, y);
      image.pixels[static_cast<size_t>(y) * static_cast<size_t>(g.width) + static_cast<size_t>(x)] = {
          static_cast<uint8_t>((p & shot->red_mask) >> 16), static_cast<uint8_t>((p & shot->green_mask) >> 8),
          static_cast<uint8_t>(p & shot->blue_mask)};
    }
  }
  XDestroyImage(shot);
  return image;
}

void XScreen::MovePointer(XWindowId window, int x, int y) {
  const WindowGeometry g = Geometry(window);
  XTestFakeMotionEvent(m_display, DefaultScreen(m_display), g.x + x, g.y + y, CurrentTime);
  XSync(m_display, False);
}

void XScreen::Click(XWindowId window, int x, int y) {
  MovePointer(window, x, y);
  XTestFakeButtonEvent(m_display, 1, True, CurrentTime);
  XTestFakeButtonEvent(m_display, 1, False, CurrentTime);
  XSync(m_display, False);
}

void XScreen::Keys(const std::vector<std::string>& keysyms) {
  std::vector<KeyCode> codes;
  for (const auto& name : keysyms) {
    const KeySym sym = XStringToKeysym(name.c_str());
    if (sym == NoSymbol) throw std::runtime_error("unknown key " + name);
    codes.push_back(XKeysymToKeycode(m_display, sym));
  }
  for (const KeyCode code : codes) XTestFakeKeyEvent(m_display, code, True, CurrentTime);
  for (auto it = codes.rbegin(); it != codes.rend(); ++it) XTestFakeKeyEvent(m_display, *it, False, CurrentTime);
  XSync(m_display, False);
}

void XScreen::RequestClose(XWindowId window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(m_display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(m_display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(m_display, window, False, NoEventMask, &event);
  XSync(m_display, False);
}

void XScreen::CloseOnAltF4(XWindowId window) {
  m_closeOnAltF4 = window;
  const KeyCode f4 = XKeysymToKeycode(m_display, XStringToKeysym("F4"));
  // With and without Num Lock.
  for (const unsigned modifiers : {Mod1Mask, Mod1Mask | Mod2Mask}) {
    XGrabKey(m_display, f4, modifiers, DefaultRootWindow(m_display), False, GrabModeAsync, GrabModeAsync);
  }
  XSync(m_display, False);
}

void XScreen::Sync() { XSync(m_display, False); }

}  // namespace TestSupport
