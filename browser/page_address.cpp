#include "browser/page_address.h"

#include <glib.h>

#include <cstring>
#include <filesystem>
#include <system_error>

namespace BrowserControl {

namespace {

struct UriParts {
  std::string scheme, host, path;
  int port = -1;
};

bool Split(const std::string& uri, UriParts& parts) {
  GError* error = nullptr;
  GUri* parsed = g_uri_parse(uri.c_str(), static_cast<GUriFlags>(G_URI_FLAGS_ENCODED | G_URI_FLAGS_NON_DNS), &error);
  if (!parsed) {
    g_clear_error(&error);
    return false;
  }
  const char* scheme = g_uri_get_scheme(parsed);
  const char* host = g_uri_get_host(parsed);
  const char* path = g_uri_get_path(parsed);
  parts.scheme = scheme ? scheme : "";
  for (char& c : parts.scheme) c = static_cast<char>(g_ascii_tolower(c));
  parts.host = host ? host : "";
  for (char& c : parts.host) c = static_cast<char>(g_ascii_tolower(c));
  if (parts.scheme == "file" && parts.host == "localhost") parts.host.clear();
  parts.path = path ? path : "";
  parts.port = g_uri_get_port(parsed);
  g_uri_unref(parsed);
  return true;
}

// The decoded path, or false when it holds what could step out of a folder.
bool DecodedPath(const std::string& encoded, std::string& decoded) {
  if (encoded.empty() || encoded[0] != '/') return false;
  char* plain = g_uri_unescape_segment(encoded.c_str(), nullptr, "/\\");
  if (!plain) return false;  // an encoded "/" or "\" (or NUL)
  decoded = plain;
  g_free(plain);
  if (decoded.find('\\') != std::string::npos) return false;
  size_t start = 1;
  while (start <= decoded.size()) {
    size_t end = decoded.find('/', start);
    if (end == std::string::npos) end = decoded.size();
    const std::string segment = decoded.substr(start, end - start);
    if (segment == "." || segment == "..") return false;
    start = end + 1;
  }
  return true;
}

// The local file a "file:" address without a host names, decoded; false for any other address.
bool LocalFilePath(const std::string& uri, std::filesystem::path& file) {
  UriParts parts;
  if (!Split(uri, parts) || parts.scheme != "file" || !parts.host.empty()) return false;
  std::string path;
  if (!DecodedPath(parts.path, path)) return false;
  file = path;
  return true;
}

int DefaultPort(const std::string& scheme) {
  if (scheme == "http") return 80;
  if (scheme == "https") return 443;
  return -1;
}

}  // namespace

std::string PageUriFromTarget(const std::string& target) {
  if (target.empty()) return {};
  if (target[0] == '/') {
    gchar* uri = g_filename_to_uri(target.c_str(), nullptr, nullptr);
    if (!uri) return {};
    std::string result = uri;
    g_free(uri);
    return result;
  }
  gchar* scheme = g_uri_parse_scheme(target.c_str());
  if (!scheme) return {};
  g_free(scheme);
  return target;
}

std::string PageFolderOf(const std::string& pageUri) {
  UriParts parts;
  if (!Split(pageUri, parts) || parts.path.empty() || parts.path[0] != '/') return {};
  const std::string folderPath = parts.path.substr(0, parts.path.rfind('/') + 1);
  std::string folder = parts.scheme + "://" + parts.host;
  if (parts.port > 0 && parts.port != DefaultPort(parts.scheme)) folder += ":" + std::to_string(parts.port);
  return folder + folderPath;
}

bool IsInsideFolder(const std::string& folder, const std::string& uri) {
  UriParts f, u;
  if (folder.empty() || !Split(folder, f) || !Split(uri, u)) return false;
  if (f.scheme != u.scheme || f.host != u.host) return false;
  const int fp = f.port > 0 ? f.port : DefaultPort(f.scheme);
  const int up = u.port > 0 ? u.port : DefaultPort(u.scheme);
  if (fp != up) return false;
  std::string folderPath, path;
  if (!DecodedPath(f.path, folderPath) || !DecodedPath(u.path, path)) return false;
  if (folderPath.empty() || folderPath.back() != '/') return false;
  return path.compare(0, folderPath.size(), folderPath) == 0;
}

std::string FolderUrlPattern(const std::string& folder) {
  UriParts parts;
  if (!Split(folder, parts) || parts.path.empty()) return {};
  // WebKit compares patterns with the encoded address; keep to folders whose address needs no
  // encoding, where both spellings agree.
  if (folder.find('%') != std::string::npos || folder.find('*') != std::string::npos) return {};
  return parts.scheme + "://" + parts.host + parts.path + "*";
}

std::string ResolvePageUri(const std::string& base, const std::string& reference) {
  if (reference.empty()) return {};
  if (reference[0] == '/' || base.empty()) return PageUriFromTarget(reference);
  GError* error = nullptr;
  gchar* resolved = g_uri_resolve_relative(base.c_str(), reference.c_str(), G_URI_FLAGS_ENCODED, &error);
  if (!resolved) {
    g_clear_error(&error);
    return {};
  }
  std::string result = resolved;
  g_free(resolved);
  return result;
}

std::string LocalPageInsideFolderOf(const std::string& base, const std::string& reference) {
  std::filesystem::path basePath;
  if (!LocalFilePath(base, basePath)) return {};
  const std::string folder = PageFolderOf(base);
  std::string uri = PageUriFromTarget(reference);
  if (uri.empty()) uri = ResolvePageUri(base, reference);
  std::filesystem::path file;
  if (uri.empty() || !IsInsideFolder(folder, uri) || !LocalFilePath(uri, file)) return {};
  // Links may lead out of the folder: both sides are compared with every link followed.
  std::error_code error;
  const std::filesystem::path realFolder = std::filesystem::canonical(basePath.parent_path(), error);
  if (error) return {};
  const std::filesystem::path realFile = std::filesystem::canonical(file, error);
  if (error || !std::filesystem::is_regular_file(realFile, error)) return {};
  std::string prefix = realFolder.native();
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  if (realFile.native().compare(0, prefix.size(), prefix) != 0) return {};
  return uri;
}

}  // namespace BrowserControl
