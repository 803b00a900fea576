#pragma once
// The user's interface language as a Windows language identifier.
#include <cstdint>
#include <string_view>

namespace Platform {

// Language identifier of a POSIX locale name ("de_DE.UTF-8", "pt_BR", "C"): the ISO 639
// language mapped to its Windows primary-language number, with the default sublanguage.
// "C", "POSIX" and an empty name give US English (0x0409); an unknown language gives 0.
uint16_t LanguageIdFromLocale(std::string_view locale);

// The first non-empty of LC_ALL, LC_MESSAGES and LANG, read as above.
uint16_t GetUserDefaultUILanguage();

}  // namespace Platform
