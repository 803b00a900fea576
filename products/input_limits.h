#pragma once
// Guards for untrusted text handed to the recursive property-tree parsers: a file nested
// deeper than any real description or settings file is refused before parsing, so that it
// cannot exhaust the stack.
#include <cstddef>
#include <string_view>

namespace ProductList {

inline constexpr size_t kMaxNestingDepth = 200;

// The deepest nesting of the bracket pairs in `text`, counting every opening bracket,
// including those inside strings (an over-estimate is harmless at this limit).
size_t NestingDepth(std::string_view text, char open1, char open2, char close1, char close2);

// The deepest element nesting of XML text: an opening tag opens, a closing or self-closing
// tag closes; comments, CDATA, processing instructions and declarations do not count.
size_t XmlNestingDepth(std::string_view text);

}  // namespace ProductList
