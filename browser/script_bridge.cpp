#include "browser/script_bridge.h"

#include <openssl/rand.h>
#include <webkit2/webkit2.h>

#include <boost/json.hpp>
#include <cmath>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>

#include "browser/bridge_script.h"
#include "browser/main_thread.h"
#include "platform/text.h"

namespace BrowserControl {

namespace json = boost::json;

namespace {

constexpr DISPID kDispidPropertyPut = -3;
constexpr int kKindUnknown = 0, kKindWithResult = 1, kKindWithoutResult = 2;

// Identifies a script-object proxy of this program behind an IDispatch.
constexpr IID kIidScriptObject = {0x6f6d6b01, 0x7363, 0x726f, {0x62, 0x6a, 0x65, 0x63, 0x74, 0x00, 0x00, 0x01}};

std::atomic<size_t> g_liveScriptObjects{0};

std::string RandomHex(size_t bytes) {
  std::vector<unsigned char> raw(bytes);
  if (RAND_bytes(raw.data(), static_cast<int>(raw.size())) != 1) {
    throw std::runtime_error("no random bytes for the bridge token");
  }
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char b : raw) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

bool SameText(const std::string& a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

// A script object of the page, as native code holds it. Calls on it go to the page later and
// never wait for the page, so a member is always "found" and always succeeds here.
class CScriptObject : public IDispatch {
 public:
  CScriptObject(std::weak_ptr<CScriptBridge> bridge, std::string doc, int64_t id)
      : m_bridge(std::move(bridge)), m_doc(std::move(doc)), m_id(id) {
    ++g_liveScriptObjects;
  }

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == kIidScriptObject) {
      AddRef();
      *object = static_cast<IDispatch*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  uint32_t AddRef() override { return ++m_refs; }
  uint32_t Release() override {
    const uint32_t left = --m_refs;
    if (left == 0) {
      if (auto bridge = m_bridge.lock()) bridge->QueueRelease(m_doc, m_id);
      delete this;
    }
    return left;
  }
  HRESULT GetTypeInfoCount(uint32_t* count) override {
    if (count) *count = 0;
    return E_NOTIMPL;
  }
  HRESULT GetTypeInfo(uint32_t, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, const wchar_t* const* names, uint32_t count, LCID, DISPID* ids) override {
    if (count == 0) return S_OK;
    if (!names || !ids) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (uint32_t i = 0; i < count; ++i) {
      if (!names[i] || !*names[i]) return DISP_E_UNKNOWNNAME;
      DISPID id = 0;
      for (size_t k = 0; k < m_names.size(); ++k) {
        if (m_names[k] == names[i]) id = static_cast<DISPID>(k + 1);
      }
      if (id == 0) {
        if (m_names.size() >= kMaxScriptObjectNames) return DISP_E_UNKNOWNNAME;
        m_names.emplace_back(names[i]);
        id = static_cast<DISPID>(m_names.size());
      }
      ids[i] = id;
    }
    return S_OK;
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, uint16_t, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                 uint32_t*) override {
    std::wstring name;
    if (id != DISPID_VALUE) {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (id < 1 || static_cast<size_t>(id) > m_names.size()) return DISP_E_MEMBERNOTFOUND;
      name = m_names[static_cast<size_t>(id) - 1];
    }
    std::vector<VARIANT> args;
    if (params) {
      if (params->cArgs > 0 && !params->rgvarg) return E_INVALIDARG;
      if (params->cNamedArgs > 0) return DISP_E_NONAMEDARGS;
      for (uint32_t i = params->cArgs; i > 0; --i) args.push_back(params->rgvarg[i - 1]);
    }
    if (result) VariantInit(result);
    auto bridge = m_bridge.lock();
    if (!bridge) return RPC_E_DISCONNECTED;
    bridge->QueueScriptCall(m_doc, m_id, std::move(name), std::move(args));
    return S_OK;
  }

  const CScriptBridge* Bridge() const { return m_bridge.lock().get(); }
  const std::string& Doc() const { return m_doc; }
  int64_t Id() const { return m_id; }

 private:
  ~CScriptObject() { --g_liveScriptObjects; }

  std::atomic<uint32_t> m_refs{0};
  std::weak_ptr<CScriptBridge> m_bridge;
  std::string m_doc;
  int64_t m_id;
  std::mutex m_mutex;
  std::vector<std::wstring> m_names;
};

CScriptObject* AsScriptObject(IDispatch* object) {
  if (!object) return nullptr;
  void* found = nullptr;
  if (object->QueryInterface(kIidScriptObject, &found) != S_OK || !found) return nullptr;
  auto* script = static_cast<CScriptObject*>(static_cast<IDispatch*>(found));
  script->Release();  // the caller's reference keeps it alive
  return script;
}

struct BridgeError {
  HRESULT code;
};

void FinishRequest(WebKitURISchemeRequest* request, int status, const std::string& body) {
  GBytes* bytes = g_bytes_new(body.data(), body.size());
  GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
  WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(stream, static_cast<gint64>(body.size()));
  webkit_uri_scheme_response_set_status(response, static_cast<guint>(status), status == 200 ? "OK" : "Forbidden");
  webkit_uri_scheme_response_set_content_type(response, "application/json; charset=utf-8");
  SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  soup_message_headers_append(headers, "Access-Control-Allow-Origin", "*");
  soup_message_headers_append(headers, "Cache-Control", "no-store");
  webkit_uri_scheme_response_set_http_headers(response, headers);
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
  g_object_unref(stream);
  g_bytes_unref(bytes);
}

std::string ErrorReply(HRESULT code) {
  return "{\"e\":" + std::to_string(code) + "}";
}

// The request body, or empty with `tooLarge` set when it passes the cap.
std::string ReadBody(WebKitURISchemeRequest* request, bool& tooLarge) {
  tooLarge = false;
  std::string body;
  GInputStream* stream = webkit_uri_scheme_request_get_http_body(request);
  if (!stream) return body;
  char buffer[16384];
  for (;;) {
    const gssize n = g_input_stream_read(stream, buffer, sizeof buffer, nullptr, nullptr);
    if (n <= 0) break;
    if (body.size() + static_cast<size_t>(n) > kMaxBridgeRequestBytes) {
      tooLarge = true;
      body.clear();
      break;
    }
    body.append(buffer, static_cast<size_t>(n));
  }
  g_object_unref(stream);
  return body;
}

json::value NumberValue(double x) {
  if (std::isnan(x)) return json::object{{"n", "NaN"}};
  if (std::isinf(x)) return json::object{{"n", x > 0 ? "Infinity" : "-Infinity"}};
  return json::value(x);
}

}  // namespace

// Values between JSON and VARIANT for one bridge.
class CBridgeCodec {
 public:
  CBridgeCodec(CScriptBridge& bridge) : m_bridge(bridge) {}

  VARIANT FromJson(const json::value& v) {
    switch (v.kind()) {
      case json::kind::null:
        return MakeVariantNull();
      case json::kind::bool_:
        return MakeVariantBool(v.get_bool());
      case json::kind::int64: {
        const int64_t x = v.get_int64();
        if (x >= std::numeric_limits<int32_t>::min() && x <= std::numeric_limits<int32_t>::max()) {
          return MakeVariantI4(static_cast<int32_t>(x));
        }
        return MakeVariantR8(static_cast<double>(x));
      }
      case json::kind::uint64:
        return MakeVariantR8(static_cast<double>(v.get_uint64()));
      case json::kind::double_:
        return MakeVariantR8(v.get_double());
      case json::kind::string: {
        const json::string& s = v.get_string();
        return MakeVariantBstr(Platform::Utf8ToWide(std::string_view(s.data(), s.size())));
      }
      case json::kind::object: {
        const json::object& o = v.get_object();
        if (const json::value* h = o.if_contains("h")) {
          IDispatch* object = h->is_int64() ? m_bridge.ObjectOf(h->get_int64()) : nullptr;
          if (!object) throw BridgeError{RPC_E_DISCONNECTED};
          return MakeVariantDispatch(object);
        }
        if (const json::value* id = o.if_contains("o")) {
          if (!id->is_int64() || id->get_int64() <= 0) throw BridgeError{E_INVALIDARG};
          if (g_liveScriptObjects.load() >= kMaxLiveScriptObjects) throw BridgeError{E_OUTOFMEMORY};
          auto* object = new CScriptObject(m_bridge.weak_from_this(), m_bridge.m_doc, id->get_int64());
          return MakeVariantDispatch(object);
        }
        if (const json::value* n = o.if_contains("n")) {
          const std::string_view text = n->is_string() ? std::string_view(n->get_string()) : "";
          if (text == "Infinity") return MakeVariantR8(std::numeric_limits<double>::infinity());
          if (text == "-Infinity") return MakeVariantR8(-std::numeric_limits<double>::infinity());
          return MakeVariantR8(std::numeric_limits<double>::quiet_NaN());
        }
        return VARIANT();
      }
      case json::kind::array:
        break;
    }
    throw BridgeError{E_INVALIDARG};
  }

  // `doc`: the document the value goes to (a script object of another document is null there).
  json::value ToJson(const VARIANT& v, const std::string& doc) {
    switch (v.vt) {
      case VT_EMPTY:
        return json::object{{"u", 1}};
      case VT_NULL:
        return nullptr;
      case VT_I2:
        return v.iVal;
      case VT_UI2:
        return v.uiVal;
      case VT_I4:
        return v.lVal;
      case VT_UI4:
        return v.ulVal;
      case VT_INT:
        return v.intVal;
      case VT_UINT:
        return v.uintVal;
      case VT_ERROR:
        return v.scode;
      case VT_R4:
        return NumberValue(v.fltVal);
      case VT_R8:
        return NumberValue(v.dblVal);
      case VT_BOOL:
        return v.boolVal != 0;
      case VT_BSTR:
        return json::string(Platform::WideToUtf8(v.bstrVal ? *v.bstrVal : std::wstring()));
      case VT_DISPATCH: {
        IDispatch* object = v.pdispVal.get();
        if (!object) return nullptr;
        if (CScriptObject* script = AsScriptObject(object)) {
          if (script->Bridge() == &m_bridge && script->Doc() == doc) return json::object{{"o", script->Id()}};
          return nullptr;
        }
        const int64_t handle = m_bridge.HandleOf(object);
        if (handle == 0) throw BridgeError{E_OUTOFMEMORY};
        return json::object{{"h", handle}};
      }
      default:
        return json::object{{"u", 1}};
    }
  }

 private:
  CScriptBridge& m_bridge;
};

std::shared_ptr<CScriptBridge> CScriptBridge::Create(WebKitWebView* view, CComPtr<IDispatch> external,
                                                     std::function<bool(const char*)> isOwnPage) {
  return std::shared_ptr<CScriptBridge>(new CScriptBridge(view, std::move(external), std::move(isOwnPage)));
}

CScriptBridge::CScriptBridge(WebKitWebView* view, CComPtr<IDispatch> external,
                             std::function<bool(const char*)> isOwnPage)
    : m_view(view),
      m_external(std::move(external)),
      m_isOwnPage(std::move(isOwnPage)),
      m_token(RandomHex(16)),
      m_helper("__omk_" + RandomHex(8)) {}

CScriptBridge::~CScriptBridge() = default;

std::string CScriptBridge::PageScript() const { return BuildBridgeScript(m_token, kBridgeEndpoint, m_helper); }

void CScriptBridge::Detach() {
  m_view = nullptr;
  m_pending.clear();
  m_handles.clear();
  m_handleOf.clear();
  m_external = nullptr;
}

int64_t CScriptBridge::HandleOf(IDispatch* object) {
  auto it = m_handleOf.find(object);
  if (it != m_handleOf.end()) return it->second;
  if (m_handles.size() >= kMaxNativeHandles) return 0;
  const int64_t handle = m_nextHandle++;
  m_handles.emplace(handle, CComPtr<IDispatch>(object));
  m_handleOf.emplace(object, handle);
  return handle;
}

IDispatch* CScriptBridge::ObjectOf(int64_t handle) const {
  auto it = m_handles.find(handle);
  return it == m_handles.end() ? nullptr : it->second.get();
}

void CScriptBridge::HandleRequest(WebKitURISchemeRequest* request) {
  int status = 200;
  std::string reply;
  const char* method = webkit_uri_scheme_request_get_http_method(request);
  const char* pageUri = m_view ? webkit_web_view_get_uri(m_view) : nullptr;
  bool tooLarge = false;
  std::string body = ReadBody(request, tooLarge);
  if (!m_view || !method || g_strcmp0(method, "POST") != 0 || !pageUri || !m_isOwnPage(pageUri)) {
    status = 403;
    reply = ErrorReply(E_ACCESSDENIED);
  } else if (tooLarge) {
    status = 413;
    reply = ErrorReply(E_OUTOFMEMORY);
  } else {
    ++m_inCall;
    reply = Answer(body, status);
    --m_inCall;
  }
  if (status == 403) ++m_refused;
  FinishRequest(request, status, reply);
  if (m_inCall == 0 && !m_pending.empty()) ScheduleFlush();
}

std::string CScriptBridge::Answer(const std::string& body, int& status) {
  json::value request;
  {
    boost::system::error_code ec;
    request = json::parse(body, ec);
    if (ec || !request.is_object()) {
      status = 403;
      return ErrorReply(E_ACCESSDENIED);
    }
  }
  const json::object& r = request.get_object();
  const json::value* token = r.if_contains("t");
  if (!token || !token->is_string() || !SameText(m_token, token->get_string())) {
    status = 403;
    return ErrorReply(E_ACCESSDENIED);
  }
  const json::value* doc = r.if_contains("g");
  const json::value* op = r.if_contains("op");
  if (!doc || !doc->is_string() || doc->get_string().size() > 64 || !op || !op->is_string()) {
    status = 403;
    return ErrorReply(E_ACCESSDENIED);
  }
  if (m_doc != std::string_view(doc->get_string())) {
    // A new document: what the previous one held is gone with it.
    m_doc = std::string(doc->get_string());
    m_handles.clear();
    m_handleOf.clear();
  }
  CBridgeCodec codec(*this);
  try {
    const std::string_view what = op->get_string();
    auto text = [&](const char* key) {
      const json::value* v = r.if_contains(key);
      if (!v || !v->is_string()) throw BridgeError{E_INVALIDARG};
      return Platform::Utf8ToWide(std::string_view(v->get_string()));
    };
    auto object = [&]() {
      const json::value* h = r.if_contains("h");
      IDispatch* found = h && h->is_int64() ? ObjectOf(h->get_int64()) : nullptr;
      if (!found) throw BridgeError{RPC_E_DISCONNECTED};
      return CComPtr<IDispatch>(found);
    };
    if (what == "n") {
      if (!m_external) throw BridgeError{DISP_E_UNKNOWNNAME};
      const std::wstring name = text("n");
      const wchar_t* names[] = {name.c_str()};
      DISPID id = DISPID_UNKNOWN;
      HRESULT hr = m_external->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
      if (FAILED(hr)) throw BridgeError{hr};
      VARIANT result;
      DISPPARAMS none;
      hr = m_external->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                              nullptr);
      if (FAILED(hr)) throw BridgeError{hr};
      if (result.vt != VT_DISPATCH || !result.pdispVal) throw BridgeError{DISP_E_MEMBERNOTFOUND};
      const int64_t handle = HandleOf(result.pdispVal.get());
      if (handle == 0) throw BridgeError{E_OUTOFMEMORY};
      return json::serialize(json::object{{"h", handle}});
    }
    if (what == "i") {
      CComPtr<IDispatch> target = object();
      const std::wstring name = text("n");
      const wchar_t* names[] = {name.c_str()};
      DISPID id = DISPID_UNKNOWN;
      const HRESULT hr = target->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
      if (FAILED(hr)) throw BridgeError{hr};
      return json::serialize(json::object{{"d", id}});
    }
    if (what == "c") {
      CComPtr<IDispatch> target = object();
      const json::value* d = r.if_contains("d");
      const json::value* f = r.if_contains("f");
      const json::value* k = r.if_contains("k");
      const json::value* a = r.if_contains("a");
      if (!d || !d->is_int64() || !f || !f->is_int64() || !a || !a->is_array()) throw BridgeError{E_INVALIDARG};
      const DISPID id = static_cast<DISPID>(d->get_int64());
      const uint16_t flags = static_cast<uint16_t>(f->get_int64() & 0xF);
      int kind = k && k->is_int64() ? static_cast<int>(k->get_int64()) : kKindUnknown;
      // Every argument is read even after a bad one, so each script object the page lent is
      // taken and let go again (the page forgets it only then).
      std::vector<VARIANT> args;
      HRESULT badArgument = S_OK;
      for (const json::value& arg : a->get_array()) {
        try {
          args.push_back(codec.FromJson(arg));
        } catch (const BridgeError& e) {
          if (badArgument == S_OK) badArgument = e.code;
        }
      }
      if (FAILED(badArgument)) throw BridgeError{badArgument};
      CDispParams params(std::move(args));
      DISPPARAMS* block = params.get();
      DISPID putId = kDispidPropertyPut;
      if (flags & DISPATCH_PROPERTYPUT) {
        block->rgdispidNamedArgs = &putId;
        block->cNamedArgs = block->cArgs > 0 ? 1 : 0;
        kind = kKindWithoutResult;
      }
      VARIANT result;
      HRESULT hr;
      int learnt = kKindUnknown;
      // Script cannot tell whether a call's value is used, and members either require a result
      // slot or refuse one: try with a slot first and without one when that is refused, and
      // let the page remember which the member takes.
      if (kind == kKindWithoutResult) {
        hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, block, nullptr, nullptr, nullptr);
      } else {
        hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, block, &result, nullptr, nullptr);
        if (SUCCEEDED(hr)) {
          learnt = kKindWithResult;
        } else if (hr == E_INVALIDARG && kind == kKindUnknown) {
          VariantClear(&result);
          hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, block, nullptr, nullptr, nullptr);
          if (SUCCEEDED(hr)) learnt = kKindWithoutResult;
        }
      }
      if (FAILED(hr)) throw BridgeError{hr};
      json::object reply{{"r", codec.ToJson(result, m_doc)}};
      if (learnt != kKindUnknown && learnt != kind) reply["k"] = learnt;
      return json::serialize(reply);
    }
    throw BridgeError{E_INVALIDARG};
  } catch (const BridgeError& e) {
    return ErrorReply(e.code);
  } catch (const std::bad_alloc&) {
    return ErrorReply(E_OUTOFMEMORY);
  } catch (const std::exception&) {
    return ErrorReply(E_FAIL);
  }
}

void CScriptBridge::QueueScriptCall(const std::string& doc, int64_t id, std::wstring name, std::vector<VARIANT> args) {
  PageCall call{'c', doc, id, std::move(name), std::move(args)};
  if (IsMainThread()) {
    Queue(std::move(call));
    return;
  }
  auto shared = std::make_shared<PageCall>(std::move(call));
  PostToMainThread([weak = weak_from_this(), shared] {
    if (auto bridge = weak.lock()) bridge->Queue(std::move(*shared));
  });
}

void CScriptBridge::QueueRelease(const std::string& doc, int64_t id) {
  PageCall call{'r', doc, id, {}, {}};
  if (IsMainThread()) {
    Queue(std::move(call));
    return;
  }
  auto shared = std::make_shared<PageCall>(std::move(call));
  PostToMainThread([weak = weak_from_this(), shared] {
    if (auto bridge = weak.lock()) bridge->Queue(std::move(*shared));
  });
}

void CScriptBridge::CallGlobalFunction(const std::wstring& name) { Queue(PageCall{'g', m_doc, 0, name, {}}); }

size_t CScriptBridge::LiveScriptObjects() { return g_liveScriptObjects.load(); }

void CScriptBridge::Queue(PageCall call) {
  if (!m_view) return;
  m_pending.push_back(std::move(call));
  if (m_inCall == 0) ScheduleFlush();
}

void CScriptBridge::ScheduleFlush() {
  if (m_flushScheduled) return;
  m_flushScheduled = true;
  PostToMainThread([weak = weak_from_this()] {
    if (auto bridge = weak.lock()) {
      bridge->m_flushScheduled = false;
      bridge->Flush();
    }
  });
}

void CScriptBridge::Flush() {
  // Never while the page waits for a synchronous answer: the calls run after it.
  if (!m_view || m_inCall > 0 || m_pending.empty()) return;
  CBridgeCodec codec(*this);
  json::array batch;
  json::array released;
  std::string releasedDoc;
  auto endReleases = [&] {
    if (!released.empty()) batch.push_back(json::array{"r", json::string(releasedDoc), std::move(released)});
    released = json::array();
  };
  while (!m_pending.empty()) {
    PageCall call = std::move(m_pending.front());
    m_pending.pop_front();
    if (call.kind == 'r') {
      if (!released.empty() && releasedDoc != call.doc) endReleases();
      releasedDoc = call.doc;
      released.push_back(call.id);
      continue;
    }
    endReleases();
    if (call.kind == 'g') {
      batch.push_back(json::array{"g", "", json::string(Platform::WideToUtf8(call.name))});
      continue;
    }
    json::array args;
    try {
      for (const VARIANT& arg : call.args) args.push_back(codec.ToJson(arg, call.doc));
    } catch (const BridgeError&) {
      continue;  // a value the page cannot be given: the call is dropped
    }
    batch.push_back(json::array{"c", json::string(call.doc), call.id,
                                json::string(Platform::WideToUtf8(call.name)), std::move(args)});
  }
  endReleases();
  const std::string script = "window['" + m_helper + "'].batch(" + json::serialize(batch) + ")";
  webkit_web_view_evaluate_javascript(m_view, script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr,
                                      nullptr, nullptr, nullptr);
}

}  // namespace BrowserControl
