#pragma once
// The native side of window.external for one web view: answers the page's synchronous bridge
// requests with calls into the published script objects, and carries native calls of script
// objects (callbacks) into the page. Main thread only, unless a member says otherwise.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "browser/variant.h"

typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitURISchemeRequest WebKitURISchemeRequest;

namespace BrowserControl {

// The custom URI scheme of the bridge and the address the page script posts to.
inline constexpr const char* kBridgeScheme = "omk-bridge";
inline constexpr const char* kBridgeEndpoint = "omk-bridge://call/";

// Limits on what a page may make the native side hold.
inline constexpr size_t kMaxBridgeRequestBytes = 4 * 1024 * 1024;
inline constexpr size_t kMaxNativeHandles = 4096;
inline constexpr size_t kMaxLiveScriptObjects = 10000;
inline constexpr size_t kMaxScriptObjectNames = 1024;

class CScriptBridge : public std::enable_shared_from_this<CScriptBridge> {
 public:
  // `external` is the window.external object (a CExternalDispatch); `isOwnPage` tells whether
  // the view's current address is the page the window loaded (or one beside it).
  static std::shared_ptr<CScriptBridge> Create(WebKitWebView* view, CComPtr<IDispatch> external,
                                               std::function<bool(const char* uri)> isOwnPage);
  ~CScriptBridge();
  CScriptBridge(const CScriptBridge&) = delete;
  CScriptBridge& operator=(const CScriptBridge&) = delete;

  // The script that defines window.external in the page (with this bridge's token).
  std::string PageScript() const;
  // The random token every request of this view's page must carry.
  const std::string& Token() const { return m_token; }

  // Answers one request of the bridge scheme that came from this bridge's view.
  void HandleRequest(WebKitURISchemeRequest* request);

  // Calls the page's global function `name` with no arguments, if it has one.
  void CallGlobalFunction(const std::wstring& name);

  // The view goes away: nothing more is sent to it and native objects are let go.
  void Detach();

  // Requests refused so far (wrong token, another page, malformed).
  uint64_t RefusedRequests() const { return m_refused; }

  // Used by script-object proxies (any thread): a call of member `name` ("" = the object
  // itself) of script object `id` of document `doc`, and the release of that object.
  void QueueScriptCall(const std::string& doc, int64_t id, std::wstring name, std::vector<VARIANT> args);
  void QueueRelease(const std::string& doc, int64_t id);

  // Script objects that native code still holds (all bridges of the process).
  static size_t LiveScriptObjects();

 private:
  struct PageCall {
    char kind;  // 'c' call, 'r' release, 'g' global function
    std::string doc;
    int64_t id = 0;
    std::wstring name;
    std::vector<VARIANT> args;
  };

  CScriptBridge(WebKitWebView* view, CComPtr<IDispatch> external,
                std::function<bool(const char* uri)> isOwnPage);

  void Queue(PageCall call);
  void ScheduleFlush();
  void Flush();

  // Request handling; each returns the JSON reply text.
  std::string Answer(const std::string& body, int& status);
  int64_t HandleOf(IDispatch* object);
  IDispatch* ObjectOf(int64_t handle) const;

  friend class CBridgeCodec;

  WebKitWebView* m_view;  // not owned; null once detached
  CComPtr<IDispatch> m_external;
  std::function<bool(const char*)> m_isOwnPage;
  std::string m_token;
  std::string m_helper;

  // Native objects lent to the current document, by handle.
  std::string m_doc;
  std::unordered_map<int64_t, CComPtr<IDispatch>> m_handles;
  std::unordered_map<IDispatch*, int64_t> m_handleOf;
  int64_t m_nextHandle = 1;

  int m_inCall = 0;  // depth of requests being answered
  bool m_flushScheduled = false;
  std::deque<PageCall> m_pending;
  uint64_t m_refused = 0;
};

}  // namespace BrowserControl
