#include "browser/default_objects.h"

#include "browser/js_downloader.h"
#include "browser/js_engine.h"
#include "browser/js_launcher.h"
#include "browser/js_system.h"

namespace BrowserControl {

std::shared_ptr<JS::CJSObjects> CreateDefaultObjects(DefaultObjectParts parts) {
  if (!parts.products) parts.products = std::make_shared<ProductList::CProductList>(L"");
  if (!parts.opener) parts.opener = std::make_shared<COpenInDefaultBrowser>();
  auto objects = std::make_shared<JS::CJSObjectsSimpleContainer>();
  JS::AddObject(*objects, MakeComObject<JS::CJSWindowWrapper>(parts.window, parts.dpi).get());
  JS::AddObject(*objects, MakeComObject<JS::CDownloader>().get());
  JS::AddObject(*objects, MakeComObject<JS::CLauncher>().get());
  JS::AddObject(*objects, MakeComObject<JS::CSystem>(parts.products, parts.opener).get());
  JS::AddObject(*objects, MakeComObject<JS::CChildWindow>(parts.childCreator).get());
  JS::AddObject(*objects, MakeComObject<JS::CEngine>(JS::kEngineVersion).get());
  return objects;
}

}  // namespace BrowserControl
