#include "metrics/hits.h"

#include <array>
#include <atomic>
#include <cctype>
#include <cstdio>

#include "platform/text.h"

namespace AppMetrics {

namespace {

using Platform::Utf8ToWide;

std::atomic<bool> g_sessionOpen{false};

CHit Event(const wchar_t* category, const wchar_t* action) {
  CHit hit;
  hit.parameters.emplace_back(L"t", L"event");
  hit.parameters.emplace_back(L"ec", category);
  hit.parameters.emplace_back(L"ea", action);
  return hit;
}

std::wstring CustomDimension(int index) {
  return Utf8ToWide("cd" + std::to_string(index));
}

bool IsKeptUnescaped(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("-._~!$'()*,;:@/?").find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

CHit MakeEventHit(const CEventData& event) {
  CHit hit;
  hit.parameters.emplace_back(L"t", L"event");
  hit.parameters.emplace_back(L"ec", Utf8ToWide(event.category));
  hit.parameters.emplace_back(L"ea", Utf8ToWide(event.action));
  if (event.value != -1) hit.parameters.emplace_back(L"ev", std::to_wstring(event.value));
  if (!event.screenName.empty()) hit.parameters.emplace_back(L"cd", Utf8ToWide(event.screenName));
  return hit;
}

CHit MakeScreenViewHit(const CScreenViewData& screenView) {
  CHit hit;
  hit.parameters.emplace_back(L"t", L"screenview");
  hit.parameters.emplace_back(L"cd", Utf8ToWide(screenView.screenName));
  return hit;
}

CHit MakeTimingHit(const CTimingData& timing) {
  CHit hit;
  hit.parameters.emplace_back(L"t", L"timing");
  hit.parameters.emplace_back(L"utc", Utf8ToWide(timing.category));
  hit.parameters.emplace_back(L"utv", Utf8ToWide(timing.variable));
  hit.parameters.emplace_back(L"utt", std::to_wstring(timing.time));
  return hit;
}

CHit MakeExceptionHit(const CExceptionData& exception, const Platform::SystemVersion& system) {
  CHit hit;
  hit.parameters.emplace_back(L"t", L"exception");
  hit.parameters.emplace_back(L"exd", ExceptionDescription(exception, system));
  const bool fatal = exception.severity == kSeverityFatal || exception.severity == kSeverityCrash;
  hit.parameters.emplace_back(L"exf", fatal ? L"1" : L"0");
  if (exception.severity == kSeverityCrash) hit.parameters.emplace_back(L"sc", L"end");
  return hit;
}

CHit MakeSessionControlHit(ESessionControl control) {
  const bool start = control == SC_Start;
  CHit hit = Event(L"SessionControl", start ? L"start" : L"end");
  hit.parameters.emplace_back(L"sc", start ? L"start" : L"end");
  hit.sessionControl = start ? SC_Start : SC_End;
  return hit;
}

CHit MakeApplicationStartTypeHit(EApplicationStartType startType) {
  CHit hit = Event(L"General", L"ApplicationStartType");
  hit.parameters.emplace_back(CustomDimension(4), Utf8ToWide(ApplicationStartTypeName(startType)));
  return hit;
}

CHit MakeBuildIdHit(const CBuildId& buildId) {
  CHit hit = Event(L"General", L"BuildId");
  hit.parameters.emplace_back(CustomDimension(3), Utf8ToWide(buildId.buildId));
  return hit;
}

CHit MakeCurrentLocaleHit(const std::wstring& locale) {
  CHit hit = Event(L"General", L"CurrentLocale");
  hit.parameters.emplace_back(CustomDimension(2), locale);
  return hit;
}

CHit MakeDaysSinceInstallHit(int32_t days) {
  CHit hit = Event(L"Install", L"DaysSinceInstall");
  hit.parameters.emplace_back(CustomDimension(5), Utf8ToWide(DaysSinceInstallBucket(days)));
  return hit;
}

std::string DaysSinceInstallBucket(int32_t days) {
  struct Bucket {
    int32_t last;
    const char* text;
  };
  static constexpr std::array<Bucket, 10> kBuckets{{
      {14, "8-14"}, {29, "15-29"}, {44, "30-44"}, {59, "45-59"}, {89, "60-89"},
      {119, "90-119"}, {179, "120-179"}, {269, "180-269"}, {364, "270-364"}, {729, "365-729"},
  }};
  if (days < 0) return "730";
  if (days <= 7) return std::to_string(days);
  for (const auto& bucket : kBuckets) {
    if (days <= bucket.last) return bucket.text;
  }
  return "730";
}

std::string ApplicationStartTypeName(int32_t startType) {
  switch (startType) {
    case AST_Manual: return "AST_Manual";
    case AST_SystemStartup: return "AST_SystemStartup";
    case AST_FirstStartAfterInstall: return "AST_FirstStartAfterInstall";
    default: return "AST_Unspecified";
  }
}

std::string OsVersionText(const Platform::SystemVersion& system) {
  return std::to_string(system.major) + "." + std::to_string(system.minor) +
         (system.is64Bit ? "" : "L");
}

std::string EscapeUrlText(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsKeptUnescaped(c)) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::wstring ExceptionDescription(const CExceptionData& exception,
                                  const Platform::SystemVersion& system) {
  std::string description = exception.description;
  if (exception.code != 0) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", exception.code);
    description += hex;
  }
  std::string text = description.empty() ? std::string() : description + "_";
  text += OsVersionText(system);
  if (!exception.details.empty()) text += "_" + exception.details;
  text = EscapeUrlText(text);
  if (text.size() > 150) text.resize(150);
  return Utf8ToWide(text);
}

std::string CondenseCrashDetails(std::string_view details) {
  std::string out;
  size_t start = 0;
  while (start < details.size()) {
    size_t end = details.find('\n', start);
    if (end == std::string_view::npos) end = details.size();
    std::string_view line = details.substr(start, end - start);
    start = end + 1;
    // "  at Module.Class.Function(args) in file" -> "Function"
    line = line.substr(0, line.find('('));
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.remove_suffix(1);
    const size_t blank = line.find_last_of(" \t\r");
    if (blank != std::string_view::npos) line.remove_prefix(blank + 1);
    const size_t dot = line.find_last_of('.');
    if (dot != std::string_view::npos && dot + 1 < line.size()) line.remove_prefix(dot + 1);
    std::string name;
    for (const char c : line) {
      if (c != '?' && c != '$') name += c;
    }
    if (name.empty()) continue;
    if (!out.empty()) out += '-';
    out += name;
  }
  for (char& c : out) {
    if (c == '*') c = '@';
  }
  return out;
}

bool IsSessionOpen() { return g_sessionOpen.load(); }

void SetSessionOpen(bool open) { g_sessionOpen.store(open); }

}  // namespace AppMetrics
