#include "browser/child_creator.h"

#include "browser/page_address.h"
#include "browser/web_dialog.h"
#include "platform/text.h"

namespace BrowserControl {

CChildCreator::CChildCreator(std::string baseUri) : m_baseUri(std::move(baseUri)) {}

EChildWindowResult CChildCreator::CreateChildWindow(const std::wstring& url, bool tray) {
  const std::string uri = LocalPageInsideFolderOf(m_baseUri, Platform::WideToUtf8(url));
  if (uri.empty()) return EChildWindowResult::kRefused;
  auto dialog = CWebBaseModelessDlg::Make(Platform::Utf8ToWide(uri), L"", tray ? kPositionTray : kPositionCenter,
                                          kShowTimeoutMs);
  return dialog->Create(nullptr) && dialog->Window() != nullptr ? EChildWindowResult::kOpened
                                                                 : EChildWindowResult::kNotOpened;
}

}  // namespace BrowserControl
