// The calling conventions of script objects, the object containers and window.external, and
// the built-in objects that need no network or process, all through IDispatch as the script
// engine calls them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "browser/default_objects.h"
#include "browser/js_child_window.h"
#include "browser/js_downloader.h"
#include "browser/js_engine.h"
#include "browser/js_objects.h"
#include "browser/js_system.h"
#include "browser/window_wrapper.h"
#include "tests/browser/script_test_support.h"

namespace {

using namespace BrowserControl;
using namespace BrowserControl::JS;
using BrowserTest::Call;
using BrowserTest::CallResult;
using BrowserTest::Str;

class FakeWindow : public IWindowWrapper {
 public:
  void Show() override { calls.push_back(L"Show"); }
  void ShowSized(int32_t w, int32_t h) override {
    calls.push_back(L"ShowSized " + std::to_wstring(w) + L" " + std::to_wstring(h));
  }
  void Close() override { calls.push_back(L"Close"); }
  void Hide() override { calls.push_back(L"Hide"); }
  void Minimize() override { calls.push_back(L"Minimize"); }
  bool IsMinimizeSupported() override { return minimizable; }
  void CloseWithExitCode(int32_t code) override { calls.push_back(L"CloseWithExitCode " + std::to_wstring(code)); }
  bool minimizable = true;
  std::vector<std::wstring> calls;
};

class FakeProducts : public ProductList::IProductList {
 public:
  bool IsInstalled(const std::wstring& code) const override { return products.count(code) != 0; }
  void GetInstalledProducts(std::vector<ProductList::ProductInfo>&, bool) const override {}
  void GetInstalledProducts(std::set<ProductList::ProductInfo>&, bool) const override {}
  bool StartProduct(const std::wstring&, const std::wstring&) const override { return false; }
  bool IsVersionSupported(const std::wstring&) const override { return true; }
  bool GetProduct(const std::wstring& code, ProductList::ProductInfo& product) const override {
    const auto it = products.find(code);
    if (it == products.end()) return false;
    product = it->second;
    return true;
  }
  std::wstring GetProductOSource(const std::wstring&) const override { return {}; }
  std::map<std::wstring, ProductList::ProductInfo> products;
};

class FakeOpener : public IOpenInDefaultBrowser {
 public:
  void Open(const std::wstring& url, const PresetParams& params) override {
    opened.push_back(url + L" params=" + std::to_wstring(params.size()));
  }
  std::vector<std::wstring> opened;
};

class FakeCreator : public IChildWindowCreator {
 public:
  EChildWindowResult CreateChildWindow(const std::wstring& url, bool tray) override {
    calls.push_back(url + (tray ? L" tray" : L" center"));
    return result;
  }
  EChildWindowResult result = EChildWindowResult::kOpened;
  std::vector<std::wstring> calls;
};

ProductList::ProductInfo Product(std::wstring folder, std::wstring exe, std::string version) {
  ProductList::ProductInfo p;
  p.location.installFolder = std::move(folder);
  p.location.mainExecutable = std::move(exe);
  p.productVersion = std::move(version);
  return p;
}

// The objects of one page, with fakes behind them.
struct Page {
  Page() {
    products->products[L"OMK"] = Product(L"/opt/omk", L"omk-app", "3.10.1.2");
    products->products[L"SLASH"] = Product(L"/opt/s/", L"app", "");
    products->products[L"NOEXE"] = Product(L"/opt/n", L"", "1.0");
  }
  std::shared_ptr<FakeWindow> window = std::make_shared<FakeWindow>();
  std::shared_ptr<FakeProducts> products = std::make_shared<FakeProducts>();
  std::shared_ptr<FakeOpener> opener = std::make_shared<FakeOpener>();
  std::shared_ptr<FakeCreator> creator = std::make_shared<FakeCreator>();
  int32_t dpi = 96;
  CComPtr<IDispatch> basewnd = MakeComObject<CJSWindowWrapper>(window, [this] { return dpi; });
  CComPtr<IDispatch> system = MakeComObject<CSystem>(products, opener);
  CComPtr<IDispatch> childWindow = MakeComObject<CChildWindow>(creator);
  CComPtr<IDispatch> engine = MakeComObject<CEngine>();
  CComPtr<IDispatch> download = MakeComObject<CDownloader>();
  // The same objects without their collaborators.
  CComPtr<IDispatch> bareBasewnd = MakeComObject<CJSWindowWrapper>(nullptr);
  CComPtr<IDispatch> bareSystem = MakeComObject<CSystem>(nullptr, nullptr);
  CComPtr<IDispatch> bareChildWindow = MakeComObject<CChildWindow>(nullptr);
  CComPtr<IDispatch> emptyEngine = MakeComObject<CEngine>(L"");
};

enum class Slot { kGiven, kNone };

struct ConventionCase {
  const char* rule;
  CComPtr<IDispatch> Page::*object;
  std::wstring member;
  std::vector<VARIANT> args;
  Slot slot;
  HRESULT expected;
  std::vector<std::wstring> windowCalls;  // what the window saw, when the case is about it
};

VARIANT NullString() { return MakeVariantBstr(std::nullopt); }
VARIANT ByRefInt() {
  VARIANT v = MakeVariantI4(2);
  v.vt = VT_I4 | VT_BYREF;
  return v;
}

TEST(ScriptObjectConventionsTest, EachRuleOnARealMember) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<ConventionCase> cases = {
      {"arguments arrive reversed: the first script argument is the width", &Page::basewnd, L"show",
       {MakeVariantI4(400), MakeVariantI4(300)}, Slot::kNone, S_OK, {L"ShowSized 400 300"}},
      {"a no-argument member refuses an argument", &Page::basewnd, L"hide", {MakeVariantI4(1)}, Slot::kNone,
       E_INVALIDARG, {}},
      {"a member returning nothing refuses a result slot", &Page::basewnd, L"close", {}, Slot::kGiven, E_INVALIDARG, {}},
      {"a member returning a value needs a result slot", &Page::basewnd, L"isMinimizeSupported", {}, Slot::kNone,
       E_INVALIDARG, {}},
      {"a member that ignores the slot takes it", &Page::basewnd, L"show", {MakeVariantI4(1), MakeVariantI4(2)},
       Slot::kGiven, S_OK, {L"ShowSized 1 2"}},
      {"2.9 is taken as 2", &Page::basewnd, L"closeWithExitCode", {MakeVariantR8(2.9)}, Slot::kNone, S_OK,
       {L"CloseWithExitCode 2"}},
      {"truncation goes toward zero", &Page::basewnd, L"closeWithExitCode", {MakeVariantR4(-7.9f)}, Slot::kNone, S_OK,
       {L"CloseWithExitCode -7"}},
      {"VT_I2 is sign-extended", &Page::basewnd, L"closeWithExitCode", {MakeVariantI2(-5)}, Slot::kNone, S_OK,
       {L"CloseWithExitCode -5"}},
      {"VT_UI2 is zero-extended", &Page::basewnd, L"closeWithExitCode", {MakeVariantUI2(65535)}, Slot::kNone, S_OK,
       {L"CloseWithExitCode 65535"}},
      {"VT_UI4, VT_INT and VT_UINT are integers", &Page::basewnd, L"show", {MakeVariantUI4(7), MakeVariantInt(-8)},
       Slot::kNone, S_OK, {L"ShowSized 7 -8"}},
      {"VT_UINT is an integer", &Page::basewnd, L"closeWithExitCode", {MakeVariantUInt(9)}, Slot::kNone, S_OK,
       {L"CloseWithExitCode 9"}},
      {"the string \"2\" is no integer", &Page::basewnd, L"closeWithExitCode", {Str(L"2")}, Slot::kNone, E_INVALIDARG,
       {}},
      {"a boolean is no integer", &Page::basewnd, L"closeWithExitCode", {MakeVariantBool(true)}, Slot::kNone,
       E_INVALIDARG, {}},
      {"a reference is not followed", &Page::basewnd, L"closeWithExitCode", {ByRefInt()}, Slot::kNone, E_INVALIDARG, {}},
      {"a number that is not finite is no integer", &Page::basewnd, L"closeWithExitCode", {MakeVariantR8(nan)},
       Slot::kNone, E_INVALIDARG, {}},
      {"a number beyond 32 bits is no integer", &Page::basewnd, L"closeWithExitCode", {MakeVariantR8(3e9)},
       Slot::kNone, E_INVALIDARG, {}},
      {"a string argument must be VT_BSTR", &Page::system, L"isInstalled", {MakeVariantI4(5)}, Slot::kGiven,
       E_INVALIDARG, {}},
      {"the null string is refused where a value is needed", &Page::system, L"isInstalled", {NullString()},
       Slot::kGiven, E_INVALIDARG, {}},
      {"an empty string is refused where a value is needed", &Page::system, L"openInDefaultBrowser", {Str(L"")},
       Slot::kNone, E_INVALIDARG, {}},
      {"an object argument must be VT_DISPATCH", &Page::download, L"start", {Str(L"http://x/"), Str(L"cb")},
       Slot::kGiven, E_INVALIDARG, {}},
      {"an object argument must not be null", &Page::download, L"start",
       {Str(L"http://x/"), MakeVariantDispatch(nullptr)}, Slot::kGiven, E_INVALIDARG, {}},
      {"a missing collaborator is E_FAIL", &Page::bareBasewnd, L"hide", {}, Slot::kNone, E_FAIL, {}},
      {"a missing collaborator is checked before the arguments where the member says so", &Page::bareSystem,
       L"isInstalled", {}, Slot::kNone, E_FAIL, {}},
      {"an unknown member name is E_NOTIMPL", &Page::basewnd, L"maximize", {}, Slot::kNone, E_NOTIMPL, {}},
      {"member names are case-sensitive", &Page::basewnd, L"Hide", {}, Slot::kNone, E_NOTIMPL, {}},
  };
  for (const auto& c : cases) {
    Page page;
    const CallResult r = Call((page.*c.object).get(), c.member, c.args, c.slot == Slot::kGiven);
    EXPECT_EQ(r.hr, c.expected) << c.rule;
    EXPECT_EQ(page.window->calls, c.windowCalls) << c.rule;
  }
}

TEST(ScriptObjectConventionsTest, ArgumentBlocks) {
  Page page;
  // No block at all and an empty block are both "no arguments".
  VARIANT result;
  EXPECT_EQ(page.engine->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, nullptr, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.vt, VT_BSTR);
  DISPPARAMS empty;
  EXPECT_EQ(page.engine->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &empty, &result, nullptr, nullptr), S_OK);

  // Named arguments are refused.
  VARIANT arg = MakeVariantI4(1);
  DISPID named = 1;
  DISPPARAMS withNamed{&arg, &named, 1, 1};
  EXPECT_EQ(page.basewnd->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &withNamed, nullptr, nullptr, nullptr), E_INVALIDARG);
  EXPECT_TRUE(page.window->calls.empty());

  // A block that claims arguments it does not hold.
  DISPPARAMS broken{nullptr, nullptr, 1, 0};
  EXPECT_EQ(page.basewnd->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &broken, nullptr, nullptr, nullptr), E_INVALIDARG);
}

TEST(ScriptObjectConventionsTest, ResultTypes) {
  Page page;
  page.window->minimizable = true;
  CallResult r = Call(page.basewnd.get(), L"isMinimizeSupported");
  EXPECT_EQ(r.value.vt, VT_BOOL);
  EXPECT_EQ(r.value.boolVal, VARIANT_TRUE);
  page.window->minimizable = false;
  r = Call(page.basewnd.get(), L"isMinimizeSupported");
  EXPECT_EQ(r.value.boolVal, VARIANT_FALSE);

  r = Call(page.basewnd.get(), L"getDPI");
  EXPECT_EQ(r.value.vt, VT_INT);
  EXPECT_EQ(r.value.intVal, 100);

  // The slot is cleared before it is filled: an old text in it does not survive.
  r.value = Str(L"old");
  CDispParams none;
  ASSERT_EQ(page.engine->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, none.get(), &r.value, nullptr, nullptr), S_OK);
  EXPECT_EQ(r.value.vt, VT_BSTR);
  EXPECT_EQ(*r.value.bstrVal, L"3.2.0");
}

TEST(CustomObjectTest, DispatchIdsAndTheObjectItself) {
  Page page;
  // DISPIDs in registration order: "hide" first, "closeWithExitCode" seventh.
  const wchar_t* names[] = {L"hide", L"closeWithExitCode", L"getDPI"};
  DISPID ids[3] = {-1, -1, -1};
  ASSERT_EQ(page.basewnd->GetIDsOfNames(IID_NULL, names, 3, 0, ids), S_OK);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], 7);
  EXPECT_EQ(ids[2], 6);

  // The first unknown name ends the look-up; the names before it keep their DISPIDs.
  const wchar_t* mixed[] = {L"show", L"nope", L"hide"};
  DISPID mixedIds[3] = {-1, -1, -1};
  EXPECT_EQ(page.basewnd->GetIDsOfNames(IID_NULL, mixed, 3, 0, mixedIds), E_NOTIMPL);
  EXPECT_EQ(mixedIds[0], 3);
  EXPECT_EQ(mixedIds[2], -1);

  EXPECT_EQ(page.basewnd->GetIDsOfNames(IID_NULL, nullptr, 0, 0, nullptr), S_OK);
  EXPECT_EQ(page.basewnd->GetIDsOfNames(IID_NULL, names, 1, 0, nullptr), E_INVALIDARG);
  EXPECT_EQ(page.basewnd->GetIDsOfNames(IID_NULL, nullptr, 1, 0, ids), E_INVALIDARG);

  // DISPID 0 yields the object itself, whatever the flags.
  for (uint16_t flags : {DISPATCH_METHOD, DISPATCH_PROPERTYGET}) {
    VARIANT self;
    ASSERT_EQ(page.basewnd->Invoke(0, IID_NULL, 0, flags, nullptr, &self, nullptr, nullptr), S_OK);
    EXPECT_EQ(self.vt, VT_DISPATCH);
    EXPECT_EQ(self.pdispVal.get(), page.basewnd.get());
  }
  // An unknown DISPID is E_NOTIMPL.
  VARIANT unused;
  EXPECT_EQ(page.basewnd->Invoke(8, IID_NULL, 0, DISPATCH_METHOD, nullptr, &unused, nullptr, nullptr), E_NOTIMPL);
  EXPECT_EQ(page.basewnd->Invoke(-1, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), E_NOTIMPL);

  // Flags are not inspected: reading a member as a property calls it.
  const CallResult asProperty = Call(page.engine.get(), L"version", {}, true, DISPATCH_PROPERTYGET);
  EXPECT_EQ(asProperty.hr, S_OK);
  EXPECT_EQ(*asProperty.value.bstrVal, L"3.2.0");

  // Interfaces and type information.
  void* out = &out;
  EXPECT_EQ(page.basewnd->QueryInterface(IID_IDispatch, &out), S_OK);
  EXPECT_EQ(out, static_cast<void*>(page.basewnd.get()));
  static_cast<IDispatch*>(out)->Release();
  const IID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(page.basewnd->QueryInterface(other, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  uint32_t count = 0;
  EXPECT_EQ(page.basewnd->GetTypeInfoCount(&count), E_NOTIMPL);
}

TEST(CustomObjectTest, ObjectsLiveWhileReferencedAndGoAtTheLastRelease) {
  auto window = std::make_shared<FakeWindow>();
  std::weak_ptr<FakeWindow> watch = window;
  auto container = std::make_shared<CJSObjectsSimpleContainer>();
  {
    auto object = MakeComObject<CJSWindowWrapper>(std::move(window));
    EXPECT_TRUE(AddObject(*container, object.get()));
  }
  EXPECT_FALSE(watch.expired());  // the container holds it
  {
    // A reference taken by script outlives the container's.
    CComPtr<IDispatch> held = container->GetObject(0);
    container.reset();
    EXPECT_FALSE(watch.expired());
    EXPECT_EQ(Call(held.get(), L"hide", {}, false).hr, S_OK);
  }
  EXPECT_TRUE(watch.expired());
}

CComPtr<IScriptObject> Engine(const std::wstring& version) { return MakeComObject<CEngine>(version); }

std::vector<std::wstring> Names(const CJSObjects& objects) {
  std::vector<std::wstring> names;
  for (int32_t i = 0; i < objects.Count(); ++i) names.push_back(objects.GetName(i));
  return names;
}

TEST(JSObjectsContainerTest, AddReplaceRemoveAndAddAll) {
  CJSObjectsSimpleContainer objects;
  const auto a = Engine(L"a"), b = Engine(L"b"), c = Engine(L"c"), a2 = Engine(L"a2");
  EXPECT_TRUE(objects.Add(L"a", a.get()));
  EXPECT_TRUE(objects.Add(L"b", b.get()));
  EXPECT_TRUE(objects.Add(L"c", c.get()));
  // Replacing removes the old pair and appends the new one at the end.
  EXPECT_FALSE(objects.Add(L"a", a2.get()));
  EXPECT_EQ(Names(objects), (std::vector<std::wstring>{L"b", L"c", L"a"}));
  EXPECT_EQ(objects.GetObject(2).get(), a2.get());
  EXPECT_EQ(objects.IndexOf(L"c"), 1);
  EXPECT_EQ(objects.IndexOf(L"C"), -1);
  EXPECT_EQ(objects.IndexOf(L"cc"), -1);
  EXPECT_EQ(objects.GetObject(3), nullptr);
  EXPECT_EQ(objects.GetObject(-1), nullptr);
  EXPECT_FALSE(objects.Add(L"n", nullptr));
  EXPECT_EQ(objects.Count(), 3);

  EXPECT_TRUE(objects.Remove(L"c"));
  EXPECT_FALSE(objects.Remove(L"c"));
  EXPECT_EQ(Names(objects), (std::vector<std::wstring>{L"b", L"a"}));

  CJSObjectsSimpleContainer more;
  more.Add(L"d", c.get());
  more.Add(L"b", a.get());
  EXPECT_FALSE(objects.AddAll(more));  // "b" was replaced
  EXPECT_EQ(Names(objects), (std::vector<std::wstring>{L"a", L"d", L"b"}));
  EXPECT_EQ(objects.GetObject(2).get(), a.get());
  CJSObjectsSimpleContainer fresh;
  fresh.Add(L"x", b.get());
  EXPECT_TRUE(objects.AddAll(fresh));

  // An object added by its own name.
  EXPECT_TRUE(AddObject(objects, Engine(L"e").get()));
  EXPECT_EQ(objects.GetName(objects.Count() - 1), L"engine");
}

TEST(ExternalDispatchTest, NamesAreIndexesAndInvokingYieldsTheObject) {
  auto objects = std::make_shared<CJSObjectsSimpleContainer>();
  const auto first = Engine(L"1"), second = Engine(L"2");
  objects->Add(L"installer", first.get());
  objects->Add(L"ga", second.get());
  auto external = MakeComObject<CExternalDispatch>(objects);

  const wchar_t* names[] = {L"ga", L"installer"};
  DISPID ids[2] = {-1, -1};
  ASSERT_EQ(external->GetIDsOfNames(IID_NULL, names, 2, 0, ids), S_OK);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], 0);
  const wchar_t* wrongCase[] = {L"Installer"};
  EXPECT_EQ(external->GetIDsOfNames(IID_NULL, wrongCase, 1, 0, ids), DISP_E_UNKNOWNNAME);

  VARIANT object;
  ASSERT_EQ(external->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &object, nullptr, nullptr), S_OK);
  EXPECT_EQ(object.vt, VT_DISPATCH);
  EXPECT_EQ(object.pdispVal.get(), second.get());
  // window.external.installer.version() is then a call on that object.
  ASSERT_EQ(external->Invoke(0, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &object, nullptr, nullptr), S_OK);
  EXPECT_EQ(*Call(object.pdispVal.get(), L"version").value.bstrVal, L"1");

  EXPECT_EQ(external->Invoke(2, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &object, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(external->Invoke(-1, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &object, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(external->Invoke(0, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);

  auto withoutContainer = MakeComObject<CExternalDispatch>(nullptr);
  EXPECT_EQ(withoutContainer->GetIDsOfNames(IID_NULL, names, 1, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(withoutContainer->Invoke(0, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &object, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
}

TEST(DefaultObjectsTest, TheSetInItsOrder) {
  Page page;
  const auto objects = CreateDefaultObjects({page.window, {}, page.creator, page.products, page.opener});
  EXPECT_EQ(Names(*objects),
            (std::vector<std::wstring>{L"basewnd", L"download", L"process", L"system", L"childWindow", L"engine"}));
  EXPECT_EQ(*Call(objects->GetObject(5).get(), L"version").value.bstrVal, L"3.2.0");
  EXPECT_EQ(Call(objects->GetObject(0).get(), L"getDPI").value.intVal, 100);  // no DPI source: 96
  EXPECT_EQ(Call(objects->GetObject(0).get(), L"close", {}, false).hr, S_OK);
  EXPECT_EQ(page.window->calls, (std::vector<std::wstring>{L"Close"}));
}

TEST(WindowObjectTest, Members) {
  Page page;
  // "show" counts its arguments with E_FAIL, and converts them with E_INVALIDARG.
  EXPECT_EQ(Call(page.basewnd.get(), L"show", {MakeVariantI4(1)}, false).hr, E_FAIL);
  EXPECT_EQ(Call(page.basewnd.get(), L"show", {Str(L"400"), MakeVariantI4(1)}, false).hr, E_INVALIDARG);
  EXPECT_EQ(Call(page.bareBasewnd.get(), L"show", {MakeVariantI4(1), MakeVariantI4(1)}, false).hr, E_FAIL);

  page.window->minimizable = false;
  EXPECT_EQ(Call(page.basewnd.get(), L"minimize", {}, false).hr, E_NOTIMPL);
  page.window->minimizable = true;
  EXPECT_EQ(Call(page.basewnd.get(), L"minimize", {}, false).hr, S_OK);
  EXPECT_EQ(Call(page.bareBasewnd.get(), L"minimize", {}, false).hr, E_FAIL);
  EXPECT_EQ(Call(page.basewnd.get(), L"minimize", {}, true).hr, E_INVALIDARG);
  EXPECT_EQ(Call(page.basewnd.get(), L"hide", {}, false).hr, S_OK);
  EXPECT_EQ(page.window->calls, (std::vector<std::wstring>{L"Minimize", L"Hide"}));
  EXPECT_EQ(Call(page.basewnd.get(), L"closeWithExitCode", {}, false).hr, E_INVALIDARG);

  for (const auto& [dpi, percent] : std::vector<std::pair<int32_t, int32_t>>{{96, 100}, {120, 125}, {144, 150}, {72, 75}, {100, 104}}) {
    page.dpi = dpi;
    EXPECT_EQ(Call(page.basewnd.get(), L"getDPI").value.intVal, percent) << dpi;
  }
}

TEST(SystemObjectTest, ProductsAndLinks) {
  Page page;
  struct Case {
    std::wstring member;
    std::wstring code;
    std::wstring expected;
  };
  const std::vector<Case> cases = {
      {L"isInstalled", L"OMK", L"3.10.1.2"},
      {L"isInstalled", L"omk", L""},  // codes are compared exactly
      {L"isInstalled", L"SLASH", L""},  // found, but without a version
      {L"isInstalled", L"", L""},
      {L"getMainExecutablePath", L"OMK", L"/opt/omk/omk-app"},
      {L"getMainExecutablePath", L"SLASH", L"/opt/s/app"},
      {L"getMainExecutablePath", L"NOEXE", L""},
      {L"getMainExecutablePath", L"NONE", L""},
  };
  for (const auto& c : cases) {
    const CallResult r = Call(page.system.get(), c.member, {Str(c.code)});
    ASSERT_EQ(r.hr, S_OK);
    ASSERT_EQ(r.value.vt, VT_BSTR);
    EXPECT_EQ(*r.value.bstrVal, c.expected) << c.member << L" " << c.code;
  }
  EXPECT_EQ(JoinFolderAndFile(L"C:\\Dir\\", L"App.exe"), L"C:\\Dir\\App.exe");
  EXPECT_EQ(Call(page.system.get(), L"isInstalled", {Str(L"OMK")}, false).hr, E_INVALIDARG);
  EXPECT_EQ(Call(page.system.get(), L"isInstalled", {Str(L"OMK"), Str(L"x")}).hr, E_INVALIDARG);

  // The URL opener, with a slot or without; a preset opener fills its placeholders.
  EXPECT_EQ(Call(page.system.get(), L"openInDefaultBrowser", {Str(L"https://a/")}, false).hr, S_OK);
  EXPECT_EQ(Call(page.system.get(), L"openInDefaultBrowser", {Str(L"https://b/")}, true).hr, S_OK);
  EXPECT_EQ(page.opener->opened, (std::vector<std::wstring>{L"https://a/ params=0", L"https://b/ params=0"}));
  EXPECT_EQ(Call(page.bareSystem.get(), L"openInDefaultBrowser", {Str(L"https://a/")}, false).hr, E_FAIL);

  class Launches : public ILaunchEnvironment {
   public:
    std::wstring FindBrowserProgram(const std::wstring&) override { return {}; }
    bool ShellOpen(const std::wstring& target, const std::wstring&) override {
      opened.push_back(target);
      return true;
    }
    std::wstring GetUrlCommand(const std::wstring&) override { return {}; }
    bool StartCommandLine(const std::wstring&) override { return false; }
    std::vector<std::wstring> opened;
  };
  auto launches = std::make_shared<Launches>();
  auto preset = std::make_shared<COpenInDefaultBrowserWithPresetParams>(PresetParams{{L"product", L"OMK"}}, launches);
  auto system = MakeComObject<CSystem>(page.products, preset);
  EXPECT_EQ(Call(system.get(), L"openInDefaultBrowser", {Str(L"https://x/?p={{product}}&u={{uid}}")}, false).hr, S_OK);
  EXPECT_EQ(launches->opened, (std::vector<std::wstring>{L"https://x/?p=OMK"}));
}

TEST(ChildWindowObjectTest, PlacementWordsAndResults) {
  Page page;
  struct Case {
    std::vector<VARIANT> args;
    HRESULT hr;
    std::wstring created;
  };
  const std::vector<Case> cases = {
      {{Str(L"child.html"), Str(L""), Str(L"Center")}, S_OK, L"child.html center"},
      {{Str(L"child.html"), Str(L"x"), Str(L"tRAY")}, S_OK, L"child.html tray"},
      {{Str(L"child.html"), Str(L"x"), Str(L"CENTER")}, S_OK, L"child.html center"},
      {{Str(L"child.html"), Str(L"x"), Str(L"Left")}, E_INVALIDARG, L""},
      {{Str(L"child.html"), Str(L"x"), Str(L"")}, E_INVALIDARG, L""},
      {{Str(L""), Str(L"x"), Str(L"Tray")}, E_INVALIDARG, L""},
      {{Str(L"child.html"), NullString(), Str(L"Tray")}, E_INVALIDARG, L""},
      {{Str(L"child.html"), Str(L"Tray")}, E_INVALIDARG, L""},
  };
  for (const auto& c : cases) {
    page.creator->calls.clear();
    const CallResult r = Call(page.childWindow.get(), L"createWindow", c.args);
    EXPECT_EQ(r.hr, c.hr);
    EXPECT_EQ(page.creator->calls.empty() ? L"" : page.creator->calls[0], c.created);
    if (r.hr == S_OK) {
      EXPECT_EQ(r.value.vt, VT_BOOL);
    }
  }
  page.creator->result = EChildWindowResult::kNotOpened;
  const CallResult failed = Call(page.childWindow.get(), L"createWindow", {Str(L"a"), Str(L"b"), Str(L"Tray")});
  EXPECT_EQ(failed.hr, S_OK);
  EXPECT_EQ(failed.value.vt, VT_BOOL);
  EXPECT_EQ(failed.value.boolVal, VARIANT_FALSE);
  // A refused address is an error to the page, not a false result.
  page.creator->result = EChildWindowResult::kRefused;
  const CallResult refused = Call(page.childWindow.get(), L"createWindow", {Str(L"a"), Str(L"b"), Str(L"Tray")});
  EXPECT_EQ(refused.hr, E_INVALIDARG);
  EXPECT_EQ(refused.value.vt, VT_EMPTY);
  EXPECT_EQ(Call(page.bareChildWindow.get(), L"createWindow", {}).hr, E_FAIL);
}

TEST(DownloadObjectTest, ArgumentsAndUnknownIds) {
  Page page;
  EXPECT_EQ(Call(page.download.get(), L"start", {Str(L"http://127.0.0.1:1/")}, false).hr, E_INVALIDARG);
  EXPECT_EQ(Call(page.download.get(), L"start", {Str(L"")}).hr, E_INVALIDARG);
  EXPECT_EQ(Call(page.download.get(), L"start", {}).hr, E_INVALIDARG);
  // An id that was never issued is cancelled without effect.
  EXPECT_EQ(Call(page.download.get(), L"cancel", {Str(L"/tmp/never-issued")}, false).hr, S_OK);
  EXPECT_EQ(Call(page.download.get(), L"cancel", {Str(L"")}, false).hr, E_INVALIDARG);
  EXPECT_EQ(Call(page.download.get(), L"cancel", {Str(L"x")}, true).hr, E_INVALIDARG);
}

TEST(EngineObjectTest, Version) {
  Page page;
  EXPECT_EQ(Call(page.emptyEngine.get(), L"version").hr, E_FAIL);
  EXPECT_EQ(Call(page.emptyEngine.get(), L"version", {}, false).hr, E_INVALIDARG);
}

}  // namespace
