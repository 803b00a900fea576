// Page logic of the installer window: start-up, translations, the four states and pop-ups,
// the installation callbacks and the analytics screens and events.
(function (window, document) {
  'use strict';

  // The link-redirect host is filled in by the build.
  var LINK_HOST = '@OMK_LINK_REDIRECT_HOST@';
  var CATEGORY = 'Install';
  var SCREEN_WELCOME = 'Welcome';
  var SCREEN_PROGRESS = 'Progress_page%N%';
  var SCREEN_FAILURE = 'InstallFailure';
  var ERROR_BROKEN_INSTALLER = 1;
  var ERROR_CONNECTION = 2;
  var FADE_MS = 500;

  // Names for controls that carry no text of their own, in the page's language.
  var CONTROL_NAMES = {
    'da': { minimize: 'Minimer', close: 'Luk', ok: 'OK', progress: 'Installationsforløb' },
    'de': { minimize: 'Minimieren', close: 'Schließen', ok: 'OK', progress: 'Installationsfortschritt' },
    'en': { minimize: 'Minimize', close: 'Close', ok: 'OK', progress: 'Installation progress' },
    'es': { minimize: 'Minimizar', close: 'Cerrar', ok: 'Aceptar', progress: 'Progreso de la instalación' },
    'fi': { minimize: 'Pienennä', close: 'Sulje', ok: 'OK', progress: 'Asennuksen edistyminen' },
    'fr': { minimize: 'Réduire', close: 'Fermer', ok: 'OK', progress: 'Progression de l’installation' },
    'it': { minimize: 'Riduci a icona', close: 'Chiudi', ok: 'OK', progress: 'Avanzamento dell’installazione' },
    'ja': { minimize: '最小化', close: '閉じる', ok: 'OK', progress: 'インストールの進行状況' },
    'nl': { minimize: 'Minimaliseren', close: 'Sluiten', ok: 'OK', progress: 'Voortgang van de installatie' },
    'no': { minimize: 'Minimer', close: 'Lukk', ok: 'OK', progress: 'Installasjonsfremdrift' },
    'pt-br': { minimize: 'Minimizar', close: 'Fechar', ok: 'OK', progress: 'Progresso da instalação' },
    'ru': { minimize: 'Свернуть', close: 'Закрыть', ok: 'ОК', progress: 'Ход установки' },
    'sv': { minimize: 'Minimera', close: 'Stäng', ok: 'OK', progress: 'Installationsförlopp' },
    'tr': { minimize: 'Simge durumuna küçült', close: 'Kapat', ok: 'Tamam', progress: 'Yükleme ilerlemesi' },
    'zh-tw': { minimize: '最小化', close: '關閉', ok: '確定', progress: '安裝進度' }
  };
  var HTML_LANG = { 'no': 'nb', 'pt-br': 'pt-BR', 'zh-tw': 'zh-TW' };

  function linkFor(type) {
    return 'https://' + LINK_HOST + '/action/?product={{product}}&LinkType=' + type +
      '&Language={{langid}}&BuildID={{buildid}}&UID={{uid}}&version={{version}}';
  }
  var LINK_EULA = linkFor('EULA');
  var LINK_PP = linkFor('PPolicy');
  var LINK_SIGN_CHECK = linkFor('SignCheck');

  // The native objects; without "system", "basewnd" and "installer" the page does nothing.
  var external = (function () {
    try {
      var ext = window.external;
      if (ext && ext.system && ext.basewnd && ext.installer) {
        return ext;
      }
    } catch (e) {
      // a bridge that refuses the lookup counts as missing
    }
    return null;
  })();
  if (!external) {
    return;
  }

  var dpi = 100;
  try {
    var reported = Number(external.basewnd.getDPI());
    if (isFinite(reported) && reported > 0) {
      dpi = reported;
    }
  } catch (e) {
    // keep 100 %
  }
  var root = document.documentElement;
  root.style.fontSize = (13 * dpi / 100) + 'px';
  // Above 100 % (or on a scaled screen) the double-size images stay sharp.
  var hidpi = (dpi / 100) * (window.devicePixelRatio || 1) > 1;
  if (hidpi) {
    root.className += ' hidpi';
  }

  var $ = window.jQuery;
  var texts = {};
  var currentScreen = SCREEN_WELCOME;
  var running = false;
  var starting = false;
  var secondContentShown = false;
  var run = 0;
  var openPopupId = null;
  var focusBeforePopup = null;
  var firstContent = null;
  var secondContent = null;

  function call(fn) {
    try {
      return fn();
    } catch (e) {
      return undefined;
    }
  }

  function sendScreen(name) {
    currentScreen = name;
    call(function () { if (external.ga) { external.ga.sendScreen(name); } });
  }

  function sendEvent(action) {
    call(function () { if (external.ga) { external.ga.sendEvent(action, CATEGORY, currentScreen, -1); } });
  }

  function closeWindow() {
    call(function () { external.basewnd.close(); });
  }

  function openInBrowser(url) {
    call(function () { external.system.openInDefaultBrowser(url); });
  }

  // --- states and pop-ups ---------------------------------------------------------------------

  var STATES = ['welcome_page', 'installation_progress', 'failed_page', 'succeeded_page'];
  var POPUPS = ['myModal', 'exitPopup', 'brokenFilesPopup', 'connectionErrorPopup'];

  function showState(id) {
    $.each(STATES, function (i, state) {
      $('#' + state).toggleClass('is-current', state === id);
    });
  }

  function hideAllStates() {
    showState(null);
  }

  function focusFirst(selector) {
    var $target = $(selector).filter(':visible').first();
    if ($target.length) {
      $target[0].focus();
    }
  }

  function currentStateFocus() {
    var $state = $('.state.is-current');
    var $button = $state.find('button:enabled').first();
    return $button.length ? $button : $state.find('[tabindex="-1"]').first();
  }

  function setBackgroundInert(inert) {
    $('#titlebar, #content, #window_controls').each(function () {
      if (inert) {
        this.setAttribute('inert', '');
        this.setAttribute('aria-hidden', 'true');
      } else {
        this.removeAttribute('inert');
        this.removeAttribute('aria-hidden');
      }
    });
  }

  function openPopup(id) {
    if (openPopupId === id) {
      return;
    }
    if (openPopupId) {
      $('#' + openPopupId).removeClass('is-open');
    } else {
      focusBeforePopup = document.activeElement;
    }
    openPopupId = id;
    setBackgroundInert(true);
    var $popup = $('#' + id).addClass('is-open');
    var $default = $popup.find('[data-default="true"]');
    focusFirst($default.length ? $default : $popup.find('button'));
  }

  function closePopup() {
    if (!openPopupId) {
      return;
    }
    $('#' + openPopupId).removeClass('is-open');
    openPopupId = null;
    setBackgroundInert(false);
    var previous = focusBeforePopup;
    focusBeforePopup = null;
    if (previous && previous !== document.body && $(previous).is(':visible') && !previous.disabled) {
      previous.focus();
    } else {
      focusFirst(currentStateFocus());
    }
  }

  function closeAllPopups() {
    closePopup();
  }

  // --- progress -------------------------------------------------------------------------------

  function setProgress(percent) {
    var shown = Math.round(percent);
    $('#progress_percentage').text(String(shown));
    $('#progress_fill').css('width', shown + '%');
    $('#progress_bar').attr('aria-valuenow', shown);
  }

  function showFirstContent() {
    $('#common_progress_content').stop(true, true).empty().append(firstContent.clone()).show();
  }

  function showSecondContent() {
    $('#common_progress_content').stop(true, true).hide().empty().append(secondContent.clone()).fadeIn(FADE_MS);
  }

  // --- installation ---------------------------------------------------------------------------

  function makeCallback(id) {
    function current() {
      return id === run;
    }
    return {
      onStarted: function () {
        if (!current()) { return; }
        running = true;
        starting = false;
        secondContentShown = false;
        if (openPopupId && openPopupId !== 'myModal') {
          closePopup();
        }
        setProgress(0);
        showFirstContent();
        showState('installation_progress');
        sendScreen(SCREEN_PROGRESS.replace('%N%', '1'));
        if (!openPopupId) {
          focusFirst('#progress_title');
        }
      },
      onProgress: function (value) {
        if (!current() || !running) { return; }
        var percent = Number(value);
        if (typeof value === 'boolean' || value === null || !isFinite(percent) || percent < 0 || percent > 100) {
          return;
        }
        if (!secondContentShown && percent >= 50) {
          secondContentShown = true;
          showSecondContent();
          sendScreen(SCREEN_PROGRESS.replace('%N%', '2'));
        }
        setProgress(percent);
      },
      onError: function (code) {
        if (!current()) { return; }
        fail(Number(code));
      },
      onCancel: function () {
        if (!current()) { return; }
        running = false;
        closeWindow();
      },
      onFinish: function () {
        if (!current()) { return; }
        running = false;
        closeAllPopups();
        hideAllStates();
        closeWindow();
      }
    };
  }

  function fail(code) {
    running = false;
    starting = false;
    $('#install_button, #try_again_button, #connectionErrorPopup_retry').prop('disabled', false);
    if (openPopupId) {
      closePopup();
    }
    showState('failed_page');
    sendScreen(SCREEN_FAILURE);
    if (code === ERROR_BROKEN_INSTALLER) {
      openPopup('brokenFilesPopup');
    } else if (code === ERROR_CONNECTION) {
      openPopup('connectionErrorPopup');
    } else {
      focusFirst('#try_again_button');
    }
  }

  function startInstallation() {
    if (starting || running) {
      return;
    }
    starting = true;
    run += 1;
    $('#install_button, #try_again_button, #connectionErrorPopup_retry').prop('disabled', true);
    var accepted = call(function () { return external.installer.start(makeCallback(run)); });
    if (accepted === false || accepted === undefined) {
      // No installation will report back: say so instead of waiting for nothing.
      run += 1;
      fail(0);
    }
  }

  // --- user actions ---------------------------------------------------------------------------

  function onCloseRequested() {
    sendEvent('Close');
    openPopup(running ? 'myModal' : 'exitPopup');
  }

  // Links never navigate inside the page; a left click opens them in the user's browser.
  function onAnyClick(event) {
    var link = event.target && event.target.closest ? event.target.closest('a') : null;
    if (!link) {
      return;
    }
    event.preventDefault();
    if (event.button === 0) {
      onLink.call(link);
    }
  }

  function onLink() {
    var url = this.getAttribute('href');
    if (!url || url === '#') {
      return;
    }
    openInBrowser(url);
    var kind = this.getAttribute('data-link');
    if (kind === 'EULA' || kind === 'PP') {
      sendEvent(kind);
    }
  }

  // The popup's "no": what Escape does.
  var ESCAPE_ACTIONS = {
    myModal: closePopup,
    exitPopup: closePopup,
    brokenFilesPopup: closeWindow,
    connectionErrorPopup: closeWindow
  };

  function onKeyDown(event) {
    if (!openPopupId) {
      return;
    }
    if (event.key === 'Escape' || event.key === 'Esc' || event.keyCode === 27) {
      event.preventDefault();
      ESCAPE_ACTIONS[openPopupId]();
    } else if (event.key === 'Tab' || event.keyCode === 9) {
      // Keep the focus inside the open pop-up.
      var buttons = $('#' + openPopupId).find('button:visible:enabled').toArray();
      if (!buttons.length) { return; }
      var index = $.inArray(document.activeElement, buttons);
      var next = event.shiftKey ? index - 1 : index + 1;
      if (index === -1) {
        next = 0;
      } else if (next < 0) {
        next = buttons.length - 1;
      } else if (next >= buttons.length) {
        next = 0;
      }
      event.preventDefault();
      buttons[next].focus();
    }
  }

  function wire() {
    $('#close_button').on('click', onCloseRequested);
    $('#minimize_button').on('click', function () {
      sendEvent('Minimize');
      call(function () { external.basewnd.minimize(); });
    });
    $('#install_button').on('click', function () {
      if (starting || running) { return; }
      sendEvent('InstallNow');
      startInstallation();
    });
    $('#try_again_button, #connectionErrorPopup_retry').on('click', function () {
      if (starting || running) { return; }
      sendEvent('TryAgain');
      closePopup();
      startInstallation();
    });
    $('#exitPopup_yes').on('click', function () {
      sendEvent('InstallerCancelW');
      call(function () { return external.installer.cancel(); });
      closeWindow();
    });
    $('#exitPopup_no, #myModal_ok').on('click', closePopup);
    $('#brokenFilesPopup_yes').on('click', function () {
      openInBrowser(LINK_SIGN_CHECK);
      closeWindow();
    });
    $('#brokenFilesPopup_no, #connectionErrorPopup_close, #next_button').on('click', closeWindow);

    document.addEventListener('click', onAnyClick, true);
    document.addEventListener('auxclick', onAnyClick, true);
    $(document).on('dragstart', function (event) { event.preventDefault(); });
    $(document).on('contextmenu', function (event) { event.preventDefault(); });
    $(document).on('keydown', onKeyDown);
    $(document).on('submit', 'form', function (event) { event.preventDefault(); });
  }

  // --- translations ---------------------------------------------------------------------------

  function language() {
    var code = call(function () { return external.installer.getDetails().getLanguage(); });
    if (code === undefined) {
      return 'en';
    }
    // File names are matched exactly: "DE" finds "de.json". Anything that is not a language
    // code finds no file at all.
    code = String(code).toLowerCase();
    return /^[a-z]{2,3}(-[a-z0-9]{2,8})?$/.test(code) ? code : null;
  }

  // "EULAnPP" holds the two links as <a href="%URL_EULA%">text</a> and <a href="%URL_PP%">text</a>;
  // everything else in it is plain text.
  function buildLegal(text) {
    var $legal = $('#eula_text').empty();
    var pattern = /<a href="(%URL_EULA%|%URL_PP%)">([^<]*)<\/a>/g;
    var last = 0;
    var match;
    while ((match = pattern.exec(text)) !== null) {
      $legal.append(document.createTextNode(text.slice(last, match.index)));
      var isEula = match[1] === '%URL_EULA%';
      $('<a></a>')
        .attr('href', isEula ? LINK_EULA : LINK_PP)
        .attr('data-link', isEula ? 'EULA' : 'PP')
        .attr('id', isEula ? 'eula_link' : 'pp_link')
        .text(match[2])
        .appendTo($legal);
      last = pattern.lastIndex;
    }
    $legal.append(document.createTextNode(text.slice(last)));
  }

  function applyTranslation(code) {
    $('[strId]').each(function () {
      var key = this.getAttribute('strId');
      if (typeof texts[key] === 'string') {
        $(this).text(texts[key]);
      }
    });
    if (typeof texts.EULAnPP === 'string') {
      buildLegal(texts.EULAnPP);
    }
    var names = CONTROL_NAMES[code] || CONTROL_NAMES.en;
    $('[a11yId]').each(function () {
      var name = names[this.getAttribute('a11yId')];
      if (this.tagName === 'BUTTON' && this.getAttribute('a11yId') === 'ok') {
        $(this).text(name);
      } else {
        this.setAttribute('aria-label', name);
        this.setAttribute('title', name);
      }
    });
    $('#progress_bar').attr('aria-label', names.progress);
    root.setAttribute('lang', HTML_LANG[code] || code);
    // Both progress contents as translated, for each new run.
    firstContent = $('#common_progress_content').children().clone();
    secondContent = $('#data_for_second_progress_page').children().clone();
  }

  function useDoubleSizeImages() {
    $('img[srcset]').each(function () {
      var match = /^(\S+)\s+2x$/.exec(this.getAttribute('srcset'));
      if (match) {
        this.setAttribute('srcset', match[1] + ' 1x');
      }
    });
  }

  function engineSupported() {
    var version = String(window.navigator.userAgent) + ' ' + String(window.navigator.appVersion);
    return version.indexOf('rv:11.0') !== -1;
  }

  function whenLoaded(fn) {
    if (document.readyState === 'complete') {
      fn();
    } else {
      $(window).on('load', fn);
    }
  }

  function showWindow() {
    var width = Math.ceil(document.getElementById('container').getBoundingClientRect().width);
    var height = Math.ceil(document.body.getBoundingClientRect().height);
    call(function () { external.basewnd.show(width, height + 1); });
    showState('welcome_page');
    sendScreen(SCREEN_WELCOME);
    focusFirst('#install_button');
  }

  window.closeDialogRequested = function () {
    onCloseRequested();
  };

  $(function () {
    wire();
    if (hidpi) {
      useDoubleSizeImages();
    }
    var code = language();
    if (code === null) {
      return;
    }
    $.ajax({ url: './index/translations/' + code + '.json', dataType: 'json' })
      .done(function (data) {
        if (!data || typeof data !== 'object') {
          return;
        }
        texts = data;
        applyTranslation(code);
        if (!engineSupported()) {
          return;
        }
        whenLoaded(showWindow);
      });
  });
})(window, document);
