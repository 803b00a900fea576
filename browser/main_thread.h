#pragma once
// The thread that runs the windows and the pages (the GTK main thread) and the ways other code
// reaches it: posted calls, which always run later from the main loop, never inside the caller.
#include <cstdint>
#include <functional>

namespace BrowserControl {

// Priorities of posted calls (GLib's numbers: lower runs first).
enum EPostPriority : int {
  kPostDefault = 0,    // G_PRIORITY_DEFAULT: window messages, calls into the page
  kPostLow = 300,      // G_PRIORITY_LOW: after everything else that is ready, e.g. ending a loop
};

// Records the calling thread as the main thread; the first call wins. Called by the windows
// when they are created, so a program needs not call it itself.
void InitMainThread();

// True on the main thread (false before InitMainThread).
bool IsMainThread();

// Runs `call` on the main thread from its main loop, after the caller has returned, also when
// the caller is the main thread itself. Safe from any thread.
void PostToMainThread(std::function<void()> call, int priority = kPostDefault);

// Runs the main loop until `done` returns true or `timeoutMs` has passed; true when `done`.
// For the main thread only (tests and start-up waits).
bool RunMainLoopUntil(const std::function<bool()>& done, uint32_t timeoutMs);

}  // namespace BrowserControl
