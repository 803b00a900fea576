#include "products/input_limits.h"

#include <algorithm>

namespace ProductList {

size_t NestingDepth(std::string_view text, char open1, char open2, char close1, char close2) {
  size_t depth = 0, deepest = 0;
  for (char c : text) {
    if (c == open1 || c == open2) {
      deepest = std::max(deepest, ++depth);
    } else if ((c == close1 || c == close2) && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

size_t XmlNestingDepth(std::string_view text) {
  size_t depth = 0, deepest = 0;
  auto skipPast = [&](size_t from, std::string_view end) {
    const size_t at = text.find(end, from);
    return at == std::string_view::npos ? text.size() : at + end.size();
  };
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '<') {
      ++i;
      continue;
    }
    const std::string_view rest = text.substr(i);
    if (rest.substr(0, 4) == "<!--") {
      i = skipPast(i + 4, "-->");
    } else if (rest.substr(0, 9) == "<![CDATA[") {
      i = skipPast(i + 9, "]]>");
    } else if (rest.substr(0, 2) == "<?") {
      i = skipPast(i + 2, "?>");
    } else if (rest.substr(0, 2) == "<!") {
      i = skipPast(i + 2, ">");
    } else if (rest.substr(0, 2) == "</") {
      if (depth > 0) --depth;
      i = skipPast(i + 2, ">");
    } else {
      // An opening tag: runs to the first ">" outside quoted attribute values.
      deepest = std::max(deepest, ++depth);
      char quote = 0;
      size_t j = i + 1;
      for (; j < text.size(); ++j) {
        const char c = text[j];
        if (quote != 0) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '>') {
          if (text[j - 1] == '/' && depth > 0) --depth;
          break;
        }
      }
      i = j + 1;
    }
  }
  return deepest;
}

}  // namespace ProductList
