#include "browser/child_creator.h"

#include "browser/page_address.h"
#include "browser/web_dialog.h"
#include "platform/text.h"

namespace BrowserControl {

CChildCreator::CChildCreator(std::string baseUri) : m_baseUri(std::move(baseUri)) {}

bool CChildCreator::CreateChildWindow(const std::wstring& url, bool tray) {
  const std::string target = Platform::WideToUtf8(url);
  std::string uri = PageUriFromTarget(target);
  if (uri.empty()) uri = ResolvePageUri(m_baseUri, target);
  if (uri.empty()) return false;
  auto dialog = CWebBaseModelessDlg::Make(Platform::Utf8ToWide(uri), L"", tray ? kPositionTray : kPositionCenter,
                                          kShowTimeoutMs);
  return dialog->Create(nullptr) && dialog->Window() != nullptr;
}

}  // namespace BrowserControl
