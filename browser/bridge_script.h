#pragma once
// The script injected at document start into the top frame of every page a browser window
// shows: it defines window.external and the page side of the native bridge.
#include <string>

namespace BrowserControl {

// The script for one window: `token` goes with every request, `endpoint` is the bridge URL
// (custom scheme), `helper` names the window property through which native code calls back.
std::string BuildBridgeScript(const std::string& token, const std::string& endpoint,
                              const std::string& helper);

}  // namespace BrowserControl
