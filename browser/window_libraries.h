#pragma once
// The window's libraries (GTK, WebKitGTK, GLib). omk-setup maps them only when it is about to
// show a window, so that silent runs and "-extractTrackingUID" start without them: they cost
// about 35 ms and 45 MiB at every start. Programs linked with them directly have them already.
#include <string>

namespace Browser {

// Loads the libraries once, before the first call into them. Returns false, with the loader's
// message in `error`, when one of them or one of their functions is missing; the window code
// must then not run. Later calls give the first call's result.
bool LoadWindowLibraries(std::string& error);

}  // namespace Browser
