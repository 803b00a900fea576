#include "platform/language.h"

#include <array>
#include <cstdlib>
#include <string>
#include <utility>

namespace Platform {

namespace {

constexpr uint16_t kSubLangDefault = 0x01;
constexpr uint16_t kEnglishUs = 0x0409;

// ISO 639-1 code to Windows primary-language number (LANG_*).
constexpr std::array<std::pair<std::string_view, uint16_t>, 57> kPrimaryLanguages{{
    {"af", 0x36}, {"ar", 0x01}, {"az", 0x2c}, {"be", 0x23}, {"bg", 0x02}, {"bn", 0x45},
    {"bs", 0x1a}, {"ca", 0x03}, {"cs", 0x05}, {"cy", 0x52}, {"da", 0x06}, {"de", 0x07},
    {"el", 0x08}, {"en", 0x09}, {"es", 0x0a}, {"et", 0x25}, {"eu", 0x2d}, {"fa", 0x29},
    {"fi", 0x0b}, {"fo", 0x38}, {"fr", 0x0c}, {"ga", 0x3c}, {"gl", 0x56}, {"he", 0x0d},
    {"hi", 0x39}, {"hr", 0x1a}, {"hu", 0x0e}, {"hy", 0x2b}, {"id", 0x21}, {"is", 0x0f},
    {"it", 0x10}, {"ja", 0x11}, {"ka", 0x37}, {"kk", 0x3f}, {"ko", 0x12}, {"lt", 0x27},
    {"lv", 0x26}, {"mk", 0x2f}, {"ms", 0x3e}, {"nb", 0x14}, {"nl", 0x13}, {"nn", 0x14},
    {"no", 0x14}, {"pl", 0x15}, {"pt", 0x16}, {"ro", 0x18}, {"ru", 0x19}, {"sk", 0x1b},
    {"sl", 0x24}, {"sq", 0x1c}, {"sr", 0x1a}, {"sv", 0x1d}, {"th", 0x1e}, {"tr", 0x1f},
    {"uk", 0x22}, {"vi", 0x2a}, {"zh", 0x04},
}};

}  // namespace

uint16_t LanguageIdFromLocale(std::string_view locale) {
  // language[_territory][.codeset][@modifier]
  const size_t end = locale.find_first_of("_.@");
  std::string language(locale.substr(0, end));
  if (language.empty() || language == "C" || language == "POSIX") return kEnglishUs;
  for (char& c : language) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (const auto& [code, primary] : kPrimaryLanguages) {
    if (code == language) return static_cast<uint16_t>((kSubLangDefault << 10) | primary);
  }
  return 0;
}

uint16_t GetUserDefaultUILanguage() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return LanguageIdFromLocale(value);
  }
  return LanguageIdFromLocale("");
}

}  // namespace Platform
