#pragma once
// The script objects every web dialog offers unless its owner gives its own set.
#include <memory>

#include "browser/js_child_window.h"
#include "browser/js_objects.h"
#include "browser/open_in_default_browser.h"
#include "browser/window_wrapper.h"
#include "products/product_list.h"

namespace BrowserControl {

struct DefaultObjectParts {
  std::shared_ptr<IWindowWrapper> window;             // "basewnd"
  DpiSource dpi;                                      // "basewnd.getDPI"; empty: 96
  std::shared_ptr<IChildWindowCreator> childCreator;  // "childWindow"
  // "system"; DefaultObjects fills these when they are null: the product list from the
  // file "apps" beside the program or the built-in description, and the plain opener.
  std::shared_ptr<ProductList::IProductList> products;
  std::shared_ptr<IOpenInDefaultBrowser> opener;
};

// A new container with, in this order: "basewnd", "download", "process", "system",
// "childWindow", "engine" (version "3.2.0"). Call it on the page thread. A missing window or
// child-window creator makes those objects answer E_FAIL.
std::shared_ptr<JS::CJSObjects> CreateDefaultObjects(DefaultObjectParts parts);

}  // namespace BrowserControl
