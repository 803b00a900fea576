// Layout and contrast checks run inside the page: every visible text must stay inside its boxes
// and the window, texts must not overlap each other or the window buttons, and text contrast
// must reach WCAG AA.
(function () {
  'use strict';

  function describe(el) {
    if (!el) { return '?'; }
    var name = el.id ? '#' + el.id : el.nodeName.toLowerCase();
    var key = el.getAttribute && el.getAttribute('strId');
    if (key) { name += '[' + key + ']'; }
    if (!el.id && el.className && typeof el.className === 'string') { name += '.' + el.className.split(' ')[0]; }
    return name;
  }

  function ownText(el) {
    for (var i = 0; i < el.childNodes.length; ++i) {
      var n = el.childNodes[i];
      if (n.nodeType === 3 && n.textContent.trim() !== '') { return true; }
    }
    return false;
  }

  function visible(el) {
    if (!el.getClientRects().length) { return false; }
    for (var a = el; a && a.nodeType === 1; a = a.parentElement) {
      var cs = getComputedStyle(a);
      if (cs.visibility === 'hidden' || parseFloat(cs.opacity) === 0 || cs.display === 'none') { return false; }
    }
    return true;
  }

  function textRects(el) {
    var range = document.createRange();
    range.selectNodeContents(el);
    return Array.prototype.slice.call(range.getClientRects()).filter(function (r) {
      return r.width > 0.5 && r.height > 0.5;
    });
  }

  function union(rects) {
    var u = { left: Infinity, top: Infinity, right: -Infinity, bottom: -Infinity };
    rects.forEach(function (r) {
      u.left = Math.min(u.left, r.left); u.top = Math.min(u.top, r.top);
      u.right = Math.max(u.right, r.right); u.bottom = Math.max(u.bottom, r.bottom);
    });
    return u;
  }

  function intersects(a, b, slack) {
    return Math.min(a.right, b.right) - Math.max(a.left, b.left) > slack &&
           Math.min(a.bottom, b.bottom) - Math.max(a.top, b.top) > slack;
  }

  // What is on screen now: the open pop-up, or the title strip, the state and the buttons.
  function layer() {
    var popup = document.querySelector('.popup.is-open');
    if (popup) { return [popup]; }
    return [document.getElementById('titlebar'), document.querySelector('.state.is-current'),
            document.getElementById('window_controls')].filter(Boolean);
  }

  function textElements() {
    var out = [];
    layer().forEach(function (root) {
      var all = [root].concat(Array.prototype.slice.call(root.querySelectorAll('*')));
      all.forEach(function (el) {
        if (ownText(el) && visible(el)) { out.push(el); }
      });
    });
    return out;
  }

  function layoutProblems() {
    var problems = [];
    var container = document.getElementById('container').getBoundingClientRect();
    var items = [];
    textElements().forEach(function (el) {
      var rects = textRects(el);
      if (!rects.length) { return; }
      var text = union(rects);
      var fontSize = parseFloat(getComputedStyle(el).fontSize);
      // Glyph boxes may reach a little past a tight line height; more than that is overflow.
      var vSlack = 2 + 0.2 * fontSize;
      for (var a = el; a && a.id !== 'container'; a = a.parentElement) {
        var cs = getComputedStyle(a);
        if (cs.display === 'inline' || cs.display === 'contents') { continue; }
        var box = a.getBoundingClientRect();
        if (text.left < box.left - 1 || text.right > box.right + 1 ||
            text.top < box.top - vSlack || text.bottom > box.bottom + vSlack) {
          problems.push(describe(el) + ' overflows ' + describe(a));
          break;
        }
        if (a.scrollWidth > a.clientWidth + 1) {
          problems.push(describe(a) + ' is wider than its box');
          break;
        }
      }
      if (text.left < container.left || text.right > container.right ||
          text.top < container.top || text.bottom > container.bottom) {
        problems.push(describe(el) + ' leaves the window');
      }
      items.push({ el: el, rects: rects });
    });
    for (var i = 0; i < items.length; ++i) {
      for (var j = i + 1; j < items.length; ++j) {
        var a = items[i], b = items[j];
        if (a.el.contains(b.el) || b.el.contains(a.el)) { continue; }
        var hit = a.rects.some(function (ra) {
          return b.rects.some(function (rb) { return intersects(ra, rb, 1); });
        });
        if (hit) { problems.push(describe(a.el) + ' overlaps ' + describe(b.el)); }
      }
    }
    if (!document.querySelector('.popup.is-open')) {
      ['minimize_button', 'close_button'].forEach(function (id) {
        var button = document.getElementById(id).getBoundingClientRect();
        items.forEach(function (item) {
          if (item.rects.some(function (r) { return intersects(r, button, 0); })) {
            problems.push(describe(item.el) + ' runs under #' + id);
          }
        });
      });
    }
    return problems;
  }

  function parseColor(text) {
    var m = /rgba?\(([^)]+)\)/.exec(text);
    if (!m) { return [0, 0, 0, 0]; }
    var parts = m[1].split(/[ ,\/]+/).filter(Boolean).map(parseFloat);
    return [parts[0], parts[1], parts[2], parts.length > 3 ? parts[3] : 1];
  }

  function over(top, bottom) {
    var a = top[3];
    return [top[0] * a + bottom[0] * (1 - a), top[1] * a + bottom[1] * (1 - a), top[2] * a + bottom[2] * (1 - a), 1];
  }

  function background(el) {
    var layers = [];
    for (var a = el; a && a.nodeType === 1; a = a.parentElement) {
      var c = parseColor(getComputedStyle(a).backgroundColor);
      if (c[3] > 0) {
        layers.push(c);
        if (c[3] >= 1) { break; }
      }
    }
    var result = [255, 255, 255, 1];
    for (var i = layers.length - 1; i >= 0; --i) { result = over(layers[i], result); }
    return result;
  }

  function luminance(c) {
    var v = c.slice(0, 3).map(function (x) {
      x /= 255;
      return x <= 0.03928 ? x / 12.92 : Math.pow((x + 0.055) / 1.055, 2.4);
    });
    return 0.2126 * v[0] + 0.7152 * v[1] + 0.0722 * v[2];
  }

  function contrastProblems() {
    var problems = [];
    textElements().forEach(function (el) {
      if (el.disabled || (el.closest && el.closest(':disabled'))) { return; }
      var cs = getComputedStyle(el);
      var bg = background(el);
      var fg = over(parseColor(cs.color), bg);
      var l1 = luminance(fg), l2 = luminance(bg);
      var ratio = (Math.max(l1, l2) + 0.05) / (Math.min(l1, l2) + 0.05);
      var size = parseFloat(cs.fontSize);
      var bold = parseInt(cs.fontWeight, 10) >= 700;
      // Sizes relative to the page's own 13 px at 100 %: large text is 18 pt, or 14 pt bold.
      var scale = parseFloat(getComputedStyle(document.documentElement).fontSize) / 13;
      var large = size / scale >= 24 || (bold && size / scale >= 18.66);
      var needed = large ? 3 : 4.5;
      if (ratio < needed) {
        problems.push(describe(el) + ' contrast ' + ratio.toFixed(2) + ' < ' + needed);
      }
    });
    return problems;
  }

  window.omkChecks = { layoutProblems: layoutProblems, contrastProblems: contrastProblems };
})();
