#pragma once
// Addresses of pages: what a browser window is given to show, and which addresses belong to
// the page it loaded (the page's own folder and everything below it).
#include <string>

namespace BrowserControl {

// The address for a navigation target: an absolute file path becomes a file URI; a text with
// a scheme is kept as it is; anything else (relative, empty) gives empty.
std::string PageUriFromTarget(const std::string& target);

// The folder part of a page address: scheme, authority and the path up to its last "/",
// without query or fragment ("file:///tmp/a/index.html" -> "file:///tmp/a/"). Empty when the
// address has no hierarchical path.
std::string PageFolderOf(const std::string& pageUri);

// True when `uri` lies inside `folder` (as PageFolderOf gives it): same scheme, host and
// port, and a path below the folder's. Paths are compared decoded; an address with a "." or
// ".." segment, an encoded "/" or "\", or a NUL is never inside.
bool IsInsideFolder(const std::string& folder, const std::string& uri);

// A WebKit URL pattern matching every address inside `folder`, or empty when the folder
// cannot be written as one.
std::string FolderUrlPattern(const std::string& folder);

// Resolves `reference` against the page address `base` ("child.html" beside the page).
std::string ResolvePageUri(const std::string& base, const std::string& reference);

// The address of a page that the page at `base` may open in a window of its own: `reference`
// (relative, an absolute path or a file URI) resolved against `base`, accepted only when
// `base` is a local file, the address lies inside its folder (IsInsideFolder) and names an
// existing file that is still inside that folder once every link on the way is followed.
// Empty when refused.
std::string LocalPageInsideFolderOf(const std::string& base, const std::string& reference);

}  // namespace BrowserControl
