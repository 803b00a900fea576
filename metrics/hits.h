#pragma once
// The parameters of each kind of hit, after the fixed ones of the configuration.
#include <cstdint>
#include <string>
#include <string_view>

#include "metrics/analytics_config.h"
#include "metrics/records.h"

namespace AppMetrics {

// One hit waiting to be sent: its own parameters, and which session-control hit it is
// (-1 for none), because sending an end-session hit renews the sender's budget.
struct CHit {
  CHitParameters parameters;
  int32_t sessionControl = -1;
};

CHit MakeEventHit(const CEventData& event);
CHit MakeScreenViewHit(const CScreenViewData& screenView);
CHit MakeTimingHit(const CTimingData& timing);
CHit MakeExceptionHit(const CExceptionData& exception, const Platform::SystemVersion& system);
// The sender marks the session open (start) or closed (end) when it sends the hit.
CHit MakeSessionControlHit(ESessionControl control);
CHit MakeApplicationStartTypeHit(EApplicationStartType startType);
CHit MakeBuildIdHit(const CBuildId& buildId);
CHit MakeCurrentLocaleHit(const std::wstring& locale);
CHit MakeDaysSinceInstallHit(int32_t days);

// "0" ... "7", "8-14", ... "365-729", and "730" for 730 days and more or a negative count.
std::string DaysSinceInstallBucket(int32_t days);

// "AST_Manual" and so on; "AST_Unspecified" for an unknown value.
std::string ApplicationStartTypeName(int32_t startType);

// "M.m", with "L" appended on a 32-bit system.
std::string OsVersionText(const Platform::SystemVersion& system);

// Percent-escapes (upper-case hex) every byte except the letters, digits and the characters
// - . _ ~ ! $ ' ( ) * , ; : @ / ?  -- so "%", "&", "=", "+", "#", blanks, quotes, control
// bytes and non-ASCII bytes are escaped and the text cannot break the form body.
std::string EscapeUrlText(std::string_view text);

// exd: description (+ code in lower-case hex when not 0) + "_" when not empty, the OS
// version, "_" + details when not empty; escaped, then cut to 150 characters.
std::wstring ExceptionDescription(const CExceptionData& exception,
                                  const Platform::SystemVersion& system);

// One line out of a multi-line call-stack text: a short name from each line, joined by "-",
// without "?" and "$", with "*" turned into "@".
std::string CondenseCrashDetails(std::string_view details);

// Whether the last session-control hit built opened the session.
bool IsSessionOpen();
void SetSessionOpen(bool open);

}  // namespace AppMetrics
