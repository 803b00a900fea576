// Script errors must never surface as a dialog inside the installer window.
window.onerror = function () {
  return true;
};
