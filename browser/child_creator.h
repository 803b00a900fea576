#pragma once
// Opens the child windows that pages ask for through "childWindow".
#include <string>

#include "browser/js_child_window.h"

namespace BrowserControl {

class CChildCreator : public IChildWindowCreator {
 public:
  // `baseUri`: the opening page's address, against which relative URLs are resolved. Only
  // pages inside its folder are opened (LocalPageInsideFolderOf): a child window gets every
  // default script object, "process" included, so it shows none but the program's own files.
  explicit CChildCreator(std::string baseUri = {});
  // A modeless web dialog without a parent, centred or (tray) beside the taskbar when its
  // page shows it; refused for any address outside the folder.
  EChildWindowResult CreateChildWindow(const std::wstring& url, bool tray) override;

 private:
  std::string m_baseUri;
};

}  // namespace BrowserControl
