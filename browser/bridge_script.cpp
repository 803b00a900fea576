#include "browser/bridge_script.h"

namespace BrowserControl {

namespace {

// Requests (JSON, synchronous POST): every one carries "t" (token) and "g" (this document's
// id), and "op":
//   "n": name under window.external ("n")            -> {"h": handle}
//   "i": member name ("n") of native object "h"       -> {"d": dispid}
//   "c": call member "d" of "h" with flags "f", arguments "a" (script order), result-slot
//        kind "k" (0 unknown, 1 with a slot, 2 without) -> {"r": value, "k": kind learnt}
// A failure answers {"e": HRESULT}. Values: JSON numbers, strings, booleans and null as they
// are; {"u":1} undefined; {"n":"NaN"} a number JSON cannot hold; {"h":n} a native object;
// {"o":n} a script object of this document's table.
// Native code calls back with batch([["c", doc, id, name, args] | ["r", doc, ids] |
// ["g", doc, name]]): call a method of a script object (skipped when it is missing), release
// script objects, call a global function.
const char kScript[] = R"JS((function () {
  'use strict';
  if (window.top !== window) return;
  var TOKEN = '@TOKEN@', ENDPOINT = '@ENDPOINT@', HELPER = '@HELPER@';
  var apply = Reflect.apply, XHR = window.XMLHttpRequest, xp = XHR.prototype;
  var xOpen = xp.open, xSend = xp.send;
  var xText = Object.getOwnPropertyDescriptor(xp, 'responseText').get;
  var xStatus = Object.getOwnPropertyDescriptor(xp, 'status').get;
  var stringify = JSON.stringify, parse = JSON.parse, JSONo = JSON;
  var MapC = Map, WeakMapC = WeakMap, ProxyC = Proxy, ErrorC = Error, isFinite_ = Number.isFinite;
  var defineProperty = Object.defineProperty, create = Object.create, freeze = Object.freeze;
  var toPrimitive = Symbol.toPrimitive;
  var rnd = new Uint32Array(2);
  window.crypto.getRandomValues(rnd);
  var DOC = rnd[0].toString(16) + '.' + rnd[1].toString(16);
  var E_FAIL = 0x80004005 | 0, E_INVALIDARG = 0x80070057 | 0;

  function fail(code) {
    var e = new ErrorC('0x' + ('0000000' + (code >>> 0).toString(16).toUpperCase()).slice(-8));
    e.number = code | 0;  // signed, as script engines show an HRESULT
    e.name = 'ExternalError';
    return e;
  }

  function post(request) {
    var x = new XHR(), reply;
    apply(xOpen, x, ['POST', ENDPOINT, false]);
    apply(xSend, x, [apply(stringify, JSONo, [request])]);
    try { reply = apply(parse, JSONo, [apply(xText, x, [])]); } catch (err) { throw fail(E_FAIL); }
    if (reply === null || typeof reply !== 'object') throw fail(E_FAIL);
    if ('e' in reply) throw fail(reply.e);
    if (apply(xStatus, x, []) !== 200) throw fail(E_FAIL);
    return reply;
  }

  var objects = new MapC(), nextObject = 1;  // script objects lent to native code, by id
  var proxies = new MapC(), handleOf = new WeakMapC();  // native objects, by handle

  function enc(v) {
    switch (typeof v) {
      case 'number': return isFinite_(v) ? v : {n: String(v)};
      case 'string': case 'boolean': return v;
      case 'undefined': return {u: 1};
      case 'bigint': return Number(v);
      case 'symbol': throw fail(E_INVALIDARG);
    }
    if (v === null) return null;
    var h = handleOf.get(v);
    if (h !== undefined) return {h: h};
    var id = nextObject++;
    objects.set(id, v);
    return {o: id};
  }

  function dec(v) {
    if (v === null || typeof v !== 'object') return v;
    if ('h' in v) return proxyFor(v.h);
    if ('o' in v) return objects.get(v.o);
    if ('n' in v) return Number(v.n);
    return undefined;
  }

  function encArgs(list) {
    var a = [];
    for (var i = 0; i < list.length; i++) a.push(enc(list[i]));
    return a;
  }

  function member(h, d) {
    var kind = 0;
    function call(flags, args) {
      var r = post({t: TOKEN, g: DOC, op: 'c', h: h, d: d, f: flags, k: kind, a: args});
      if (r.k) kind = r.k;
      return dec(r.r);
    }
    // A member used as a value (not called) is read as a property: the member runs.
    function read() { return call(2, []); }
    var f = function () { return call(3, encArgs(arguments)); };
    defineProperty(f, toPrimitive, {value: read});
    defineProperty(f, 'valueOf', {value: read});
    defineProperty(f, 'toString', {value: function () { return String(read()); }});
    return f;
  }

  // Names every object answers even when the native object has no such member.
  function plainName(name) { return name === 'toString' || name === 'valueOf' || name === 'toLocaleString'; }
  function plainToString() { return '[object]'; }

  function ignored(name) {
    return typeof name === 'symbol' || name === 'then' || name === 'toJSON';
  }

  function proxyFor(h) {
    var p = proxies.get(h);
    if (p) return p;
    var members = new MapC();
    function lookup(name, quiet) {
      var m = members.get(name);
      if (m) return m;
      var r;
      try {
        r = post({t: TOKEN, g: DOC, op: 'i', h: h, n: String(name)});
      } catch (err) {
        if (quiet) return undefined;
        if (plainName(name)) return name === 'valueOf' ? function () { return p; } : plainToString;
        throw err;
      }
      m = member(h, r.d);
      members.set(name, m);
      return m;
    }
    p = new ProxyC(create(null), {
      get: function (t, name) { return ignored(name) ? undefined : lookup(name, false); },
      has: function (t, name) { return typeof name !== 'symbol' && lookup(name, true) !== undefined; },
      set: function (t, name, value) {
        if (typeof name === 'symbol') return false;
        var d = post({t: TOKEN, g: DOC, op: 'i', h: h, n: String(name)}).d;
        post({t: TOKEN, g: DOC, op: 'c', h: h, d: d, f: 4, k: 2, a: [enc(value)]});
        return true;
      },
      deleteProperty: function () { return false; },
      defineProperty: function () { return false; },
      ownKeys: function () { return []; }
    });
    proxies.set(h, p);
    handleOf.set(p, h);
    return p;
  }

  var names = new MapC();
  function resolve(name, quiet) {
    var p = names.get(name);
    if (p) return p;
    var r;
    try {
      r = post({t: TOKEN, g: DOC, op: 'n', n: String(name)});
    } catch (err) {
      if (quiet) return undefined;
      if (plainName(name)) return name === 'valueOf' ? function () { return external; } : plainToString;
      throw err;
    }
    p = proxyFor(r.h);
    names.set(name, p);
    return p;
  }
  var external = new ProxyC(create(null), {
    get: function (t, name) { return ignored(name) ? undefined : resolve(name, false); },
    has: function (t, name) { return typeof name !== 'symbol' && resolve(name, true) !== undefined; },
    set: function () { return false; },
    deleteProperty: function () { return false; },
    defineProperty: function () { return false; },
    ownKeys: function () { return []; }
  });

  function later(err) { setTimeout(function () { throw err; }, 0); }

  function batch(items) {
    for (var i = 0; i < items.length; i++) {
      var item = items[i];
      if (item[0] !== 'g' && item[1] !== DOC) continue;  // meant for an earlier document of this view
      if (item[0] === 'c') {
        var o = objects.get(item[2]);
        if (o === undefined || o === null) continue;
        var fn = item[3] === '' ? o : o[item[3]];
        if (typeof fn !== 'function') continue;  // a missing method is skipped
        var args = [];
        for (var j = 0; j < item[4].length; j++) args.push(dec(item[4][j]));
        try { apply(fn, o, args); } catch (err) { later(err); }
      } else if (item[0] === 'r') {
        for (var k = 0; k < item[2].length; k++) objects.delete(item[2][k]);
      } else if (item[0] === 'g') {
        var g = window[item[2]];
        if (typeof g === 'function') { try { g(); } catch (err) { later(err); } }
      }
    }
  }

  defineProperty(window, 'external', {value: external, writable: false, configurable: false, enumerable: false});
  defineProperty(window, HELPER, {value: freeze({batch: batch}), writable: false, configurable: false, enumerable: false});
})();
)JS";

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

std::string BuildBridgeScript(const std::string& token, const std::string& endpoint,
                              const std::string& helper) {
  std::string script = kScript;
  ReplaceAll(script, "@TOKEN@", token);
  ReplaceAll(script, "@ENDPOINT@", endpoint);
  ReplaceAll(script, "@HELPER@", helper);
  return script;
}

}  // namespace BrowserControl
