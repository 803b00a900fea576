// window.external end to end: page script in a real WebKitGTK view, through the bridge, to
// script objects and back.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "browser/js_objects.h"
#include "browser/main_thread.h"
#include "browser/script_bridge.h"
#include "tests/browser/host_fixture.h"
#include "tests/browser/probe_object.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace BrowserControl;
using TestSupport::Eval;
using TestSupport::EvalJson;

constexpr int32_t kUnknownName = static_cast<int32_t>(0x80020006);
constexpr int32_t kNotImpl = static_cast<int32_t>(0x80004001);
constexpr int32_t kInvalidArg = static_cast<int32_t>(0x80070057);
constexpr int32_t kFail = static_cast<int32_t>(0x80004005);
constexpr int32_t kAccessDenied = static_cast<int32_t>(0x80070005);

class BridgeTest : public testing::Test {
 protected:
  void SetUp() override {
    probe = MakeComObject<TestSupport::CProbe>();
    objects = std::make_shared<JS::CJSObjectsSimpleContainer>();
    JS::AddObject(*objects, probe.get());
    page = dir.Path() / "page" / "index.html";
    TestSupport::WriteFile(page, TestSupport::TestPageHtml("<p>bridge test</p>"));
    browser = std::make_unique<TestSupport::CTestBrowser>(objects, page);
    ASSERT_TRUE(browser->WaitLoaded());
  }
  void TearDown() override {
    browser.reset();
    objects.reset();
  }
  // {"v": value} or {"e": code} of one expression.
  boost::json::value Call(const std::string& expression) {
    return Eval(browser->View(), "call(() => " + expression + ")");
  }
  // A raw bridge request with the given JSON body; the reply's parsed body and its status.
  boost::json::value Raw(const std::string& body) {
    return Eval(browser->View(),
                "(() => { const x = new XMLHttpRequest(); x.open('POST', 'omk-bridge://call/', false);"
                " x.send(" + boost::json::serialize(boost::json::string(body)) +
                "); return {status: x.status, body: JSON.parse(x.responseText)}; })()");
  }

  TestSupport::TempDir dir;
  std::filesystem::path page;
  CComPtr<TestSupport::CProbe> probe;
  std::shared_ptr<JS::CJSObjectsSimpleContainer> objects;
  std::unique_ptr<TestSupport::CTestBrowser> browser;
};

boost::json::value V(boost::json::value v) { return boost::json::object{{"v", std::move(v)}}; }
boost::json::value E(int32_t code) { return boost::json::object{{"e", code}}; }

TEST_F(BridgeTest, NamesUnderExternalAreCaseSensitiveAndUnknownOnesThrow) {
  EXPECT_EQ(Call("typeof window.external.probe"), V("object"));
  EXPECT_EQ(Call("window.external.Probe"), E(kUnknownName));
  EXPECT_EQ(Call("window.external.Installer"), E(kUnknownName));
  EXPECT_EQ(Call("'probe' in window.external"), V(true));
  EXPECT_EQ(Call("'installer' in window.external"), V(false));
  // Names a promise or JSON machinery looks for are absent, not errors.
  EXPECT_EQ(Call("[window.external.then, window.external.toJSON, window.external[Symbol.iterator]].map(x => typeof x)"),
            V(boost::json::array{"undefined", "undefined", "undefined"}));
  EXPECT_EQ(Call("JSON.stringify({x: window.external})"), V("{\"x\":{}}"));
  EXPECT_EQ(Call("String(window.external)"), V("[object]"));
  // The same proxy every time: looked up once.
  EXPECT_EQ(Call("window.external.probe === window.external.probe"), V(true));
}

TEST_F(BridgeTest, ExternalCannotBeReplacedOrRemoved) {
  EXPECT_EQ(Call("(() => { const d = Object.getOwnPropertyDescriptor(window, 'external');"
                 " return [d.writable, d.configurable]; })()"),
            V(boost::json::array{false, false}));
  EXPECT_EQ(Call("(() => { window.external = 1; delete window.external; return typeof window.external.probe; })()"),
            V("object"));
  EXPECT_EQ(Call("(() => { 'use strict'; window.external = 1; })()").as_object().contains("e"), true);
}

TEST_F(BridgeTest, ScriptValuesArriveWithTheirVariantTypes) {
  struct Case {
    const char* script;
    int vt;
  } cases[] = {
      {"2", 3},          {"-7", 3},           {"2.5", 5},        {"2 ** 31", 5}, {"NaN", 5},
      {"Infinity", 5},   {"'text'", 8},       {"''", 8},         {"true", 11},   {"false", 11},
      {"null", 1},       {"undefined", 0},    {"({})", 9},       {"[1, 2]", 9},  {"(() => 1)", 9},
      {"window.external.probe", 9},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Call(std::string("window.external.probe.typeOf(") + c.script + ")"), V(c.vt)) << c.script;
  }
}

TEST_F(BridgeTest, ValuesComeBackAsTheyWent) {
  EXPECT_EQ(Call("window.external.probe.echo('h\\u00e9llo \\u2603 \\ud834\\udd1e \"q\" \\\\')"),
            V("h\u00e9llo \u2603 \U0001D11E \"q\" \\"));
  EXPECT_EQ(Call("window.external.probe.echo(2.5)"), V(2.5));
  EXPECT_EQ(Call("window.external.probe.echo(-3)"), V(-3));
  EXPECT_EQ(Call("window.external.probe.echo(true)"), V(true));
  EXPECT_EQ(Call("window.external.probe.echo(null)"), V(nullptr));
  EXPECT_EQ(Call("window.external.probe.echo(undefined) === undefined"), V(true));
  EXPECT_EQ(Call("String(window.external.probe.echo(NaN))"), V("NaN"));
  EXPECT_EQ(Call("window.external.probe.echo(-Infinity) === -Infinity"), V(true));
  // A script object comes back as itself, a native object as the same proxy.
  EXPECT_EQ(Call("(() => { const o = {a: 1}; return window.external.probe.echo(o) === o; })()"), V(true));
  EXPECT_EQ(Call("(() => { const f = () => 1; return window.external.probe.echo(f) === f; })()"), V(true));
  EXPECT_EQ(Call("window.external.probe.echo(window.external.probe) === window.external.probe"), V(true));
}

TEST_F(BridgeTest, MemberConventionsHoldThroughTheBridge) {
  // Integers are truncated numbers; a string is no integer.
  EXPECT_EQ(Call("window.external.probe.add(2.9, 1)"), V(3));
  EXPECT_EQ(Call("window.external.probe.add(-2.9, 0)"), V(-2));
  EXPECT_EQ(Call("window.external.probe.add('2', 1)"), E(kInvalidArg));
  EXPECT_EQ(Call("window.external.probe.add(1)"), E(kInvalidArg));
  // Unknown members are E_NOTIMPL (not an unknown name); a failing member's code is thrown.
  EXPECT_EQ(Call("window.external.probe.nothing"), E(kNotImpl));
  EXPECT_EQ(Call("window.external.probe.broken()"), E(kFail));
  EXPECT_EQ(Call("(() => { try { window.external.probe.broken(); } catch (e) { return e.message; } })()"),
            V("0x80004005"));
  // A member read as a property is called.
  EXPECT_EQ(Call("window.external.probe.answer + 1"), V(43));
  EXPECT_EQ(Call("`${window.external.probe.answer}`"), V("42"));
  EXPECT_EQ(Call("window.external.probe.answer == 42"), V(true));
  EXPECT_EQ(Call("window.external.probe.answer()"), V(42));
  // Assigning is a property put, which carries a named argument: refused.
  EXPECT_EQ(Call("(() => { window.external.probe.answer = 5; })()"), E(kInvalidArg));
}

TEST_F(BridgeTest, AMemberWithoutResultRunsOncePerCall) {
  EXPECT_EQ(Call("window.external.probe.bump()"), boost::json::object{});  // undefined: no "v"
  EXPECT_EQ(probe->bumps.load(), 1);
  EXPECT_EQ(Call("(() => { const x = window.external.probe.bump(); return x === undefined; })()"), V(true));
  EXPECT_EQ(probe->bumps.load(), 2);
  EXPECT_EQ(Call("window.external.probe.bump(1)"), E(kInvalidArg));
  EXPECT_EQ(probe->bumps.load(), 2);
}

TEST_F(BridgeTest, FirstMemberHasDispidOneAndRawRequestsNeedTheToken) {
  const std::string token = browser->Browser().Bridge()->Token();
  // The handle of "probe", then its members' DISPIDs, as the page script asks for them.
  boost::json::value named = Raw("{\"t\":\"" + token + "\",\"g\":\"raw\",\"op\":\"n\",\"n\":\"probe\"}");
  ASSERT_EQ(named.at("status"), 200);
  const int64_t handle = named.at("body").at("h").as_int64();
  auto dispid = [&](const std::string& name) {
    return Raw("{\"t\":\"" + token + "\",\"g\":\"raw\",\"op\":\"i\",\"h\":" + std::to_string(handle) +
               ",\"n\":\"" + name + "\"}")
        .at("body");
  };
  EXPECT_EQ(dispid("typeOf"), (boost::json::object{{"d", 1}}));
  EXPECT_EQ(dispid("echo"), (boost::json::object{{"d", 2}}));
  EXPECT_EQ(dispid("forget"), (boost::json::object{{"d", 10}}));
  EXPECT_EQ(dispid("TypeOf"), (boost::json::object{{"e", kNotImpl}}));
  // A handle this document was never given.
  EXPECT_EQ(Raw("{\"t\":\"" + token + "\",\"g\":\"raw\",\"op\":\"i\",\"h\":999,\"n\":\"echo\"}").at("body"),
            (boost::json::object{{"e", static_cast<int32_t>(0x80010108)}}));

  const uint64_t refusedBefore = browser->Browser().Bridge()->RefusedRequests();
  for (const std::string& body : {std::string("{\"g\":\"raw\",\"op\":\"n\",\"n\":\"probe\"}"),
                                  std::string("{\"t\":\"") + std::string(token.size(), '0') +
                                      "\",\"g\":\"raw\",\"op\":\"n\",\"n\":\"probe\"}",
                                  std::string("{\"t\":\"") + token.substr(1) + "\",\"g\":\"raw\",\"op\":\"n\"}",
                                  std::string("not json"), std::string("")}) {
    boost::json::value reply = Raw(body);
    EXPECT_EQ(reply.at("status"), 403) << body;
    EXPECT_EQ(reply.at("body"), (boost::json::object{{"e", kAccessDenied}})) << body;
  }
  EXPECT_EQ(browser->Browser().Bridge()->RefusedRequests(), refusedBefore + 5);
}

TEST_F(BridgeTest, ARequestPastTheSizeCapIsRefused) {
  EXPECT_EQ(Call("window.external.probe.echo('x'.repeat(5 * 1024 * 1024)).length").as_object().contains("e"), true);
  EXPECT_EQ(Call("window.external.probe.echo('x'.repeat(1024 * 1024)).length"), V(1024 * 1024));
}

TEST_F(BridgeTest, CallbacksFromAWorkerReachThePageInOrderAndAMissingMethodIsSkipped) {
  EXPECT_EQ(Call("(() => { window.ticks = []; window.done = null;"
                 " window.external.probe.later({onTick: i => ticks.push(i), onDone: s => { done = s; }}, 5); })()"),
            boost::json::object{});
  ASSERT_TRUE(TestSupport::WaitForScript(browser->View(), "window.done !== null"));
  EXPECT_EQ(Eval(browser->View(), "window.ticks"), (boost::json::array{0, 1, 2, 3, 4}));
  EXPECT_EQ(Eval(browser->View(), "window.done"), "fin\u00e9");
}

TEST_F(BridgeTest, ACallbackDuringASynchronousCallRunsAfterIt) {
  EXPECT_EQ(Call("(() => { window.seen = [];"
                 " window.external.probe.now({onNow: x => seen.push('callback ' + x)});"
                 " seen.push('after call'); })()"),
            boost::json::object{});
  ASSERT_TRUE(TestSupport::WaitForScript(browser->View(), "window.seen.length === 2"));
  EXPECT_EQ(Eval(browser->View(), "window.seen"), (boost::json::array{"after call", "callback x"}));
}

TEST_F(BridgeTest, ScriptObjectsAreLetGoWhenNativeCodeReleasesThem) {
  const size_t before = CScriptBridge::LiveScriptObjects();
  EXPECT_EQ(Call("(() => { for (let i = 0; i < 50; i++) window.external.probe.keep({i}); })()"),
            boost::json::object{});
  EXPECT_EQ(CScriptBridge::LiveScriptObjects(), before + 50);
  EXPECT_EQ(Call("window.external.probe.forget()"), boost::json::object{});
  EXPECT_EQ(CScriptBridge::LiveScriptObjects(), before);
}

}  // namespace
