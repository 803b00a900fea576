// A scripted stand-in for the native objects under window.external, injected at document start.
// It records every call in order, refuses calls the native objects would refuse (as they do,
// with an exception), and hands the test the callback objects given to "start".
// __omkConfig is defined before this file by the test host.
(function (config) {
  'use strict';
  var calls = [];
  var callbacks = [];
  var waiters = [];

  function plain(value) {
    if (value === null || (typeof value !== 'object' && typeof value !== 'function')) {
      return value === undefined ? '[undefined]' : value;
    }
    return '[object]';
  }

  function record(name, args, refused) {
    var entry = { name: name, args: Array.prototype.map.call(args, plain) };
    if (refused) {
      entry.refused = refused;
    }
    calls.push(entry);
    waiters = waiters.filter(function (w) {
      if (w.name === name) {
        w.resolve(true);
        return false;
      }
      return true;
    });
  }

  function refuse(name, args, code) {
    record(name, args, code);
    throw new Error(name + ' failed: ' + code);
  }

  function isText(v) { return typeof v === 'string' && v.length > 0; }

  var external = {
    system: {
      openInDefaultBrowser: function (url) {
        if (arguments.length !== 1 || !isText(url)) { refuse('system.openInDefaultBrowser', arguments, 'E_INVALIDARG'); }
        record('system.openInDefaultBrowser', arguments);
      }
    },
    basewnd: {
      getDPI: function () {
        record('basewnd.getDPI', arguments);
        return config.dpi;
      },
      show: function (width, height) {
        if (arguments.length !== 2) { refuse('basewnd.show', arguments, 'E_FAIL'); }
        if (!Number.isInteger(width) || !Number.isInteger(height)) { refuse('basewnd.show', arguments, 'E_INVALIDARG'); }
        record('basewnd.show', arguments);
      },
      minimize: function () {
        if (arguments.length !== 0) { refuse('basewnd.minimize', arguments, 'E_INVALIDARG'); }
        record('basewnd.minimize', arguments);
      },
      close: function () {
        if (arguments.length !== 0) { refuse('basewnd.close', arguments, 'E_INVALIDARG'); }
        record('basewnd.close', arguments);
      }
    },
    installer: {
      start: function (callback) {
        if (arguments.length !== 1 || !callback || typeof callback !== 'object') {
          refuse('installer.start', arguments, 'E_INVALIDARG');
        }
        record('installer.start', arguments);
        callbacks.push(callback);
        return config.startResult;
      },
      cancel: function () {
        if (arguments.length !== 0) { refuse('installer.cancel', arguments, 'E_INVALIDARG'); }
        record('installer.cancel', arguments);
        return false;  // the installation goes on, as the install manager answers
      },
      getDetails: function () {
        record('installer.getDetails', arguments);
        return {
          getLanguage: function () {
            record('installationDetails.getLanguage', arguments);
            if (config.languageThrows) {
              throw new Error('getLanguage failed');
            }
            return config.language;
          }
        };
      }
    },
    ga: {
      sendScreen: function (name) {
        if (arguments.length !== 1 || !isText(name)) { refuse('ga.sendScreen', arguments, 'E_INVALIDARG'); }
        record('ga.sendScreen', arguments);
      },
      sendEvent: function (action, category, label, value) {
        if (arguments.length < 3 || arguments.length > 4 || !isText(action) || !isText(category) ||
            !isText(label) || (arguments.length === 4 && !Number.isInteger(value))) {
          refuse('ga.sendEvent', arguments, 'E_INVALIDARG');
        }
        record('ga.sendEvent', arguments);
      }
    }
  };
  if (!config.installer) {
    delete external.installer;
  }
  Object.defineProperty(window, 'external', { value: external, writable: false, configurable: false });

  // The end of every request the page makes (the translation file).
  var open = XMLHttpRequest.prototype.open;
  var send = XMLHttpRequest.prototype.send;
  XMLHttpRequest.prototype.open = function (method, url) {
    this.omkUrl = String(url);
    return open.apply(this, arguments);
  };
  XMLHttpRequest.prototype.send = function () {
    var xhr = this;
    xhr.addEventListener('loadend', function () {
      record('xhr.loadend', [xhr.omkUrl, xhr.status]);
    });
    return send.apply(this, arguments);
  };

  // Input events reach the page asynchronously; the host waits for their end here.
  var nextEvent = {};
  function arm(type) {
    nextEvent[type] = new Promise(function (resolve) {
      window.addEventListener(type, function handler(event) {
        window.removeEventListener(type, handler, false);
        var target = event.target;
        resolve(target && target.id ? target.id : (target && target.nodeName) || '');
      }, false);
    });
    return true;
  }

  window.omkTest = {
    calls: function () { return calls; },
    callbackCount: function () { return callbacks.length; },
    callback: function (index) { return callbacks[index === undefined ? callbacks.length - 1 : index]; },
    waitFor: function (name) {
      return new Promise(function (resolve) {
        for (var i = 0; i < calls.length; ++i) {
          if (calls[i].name === name) { resolve(true); return; }
        }
        waiters.push({ name: name, resolve: resolve });
      });
    },
    arm: arm,
    armed: function (type) { return nextEvent[type]; }
  };
})(window.__omkConfig);
