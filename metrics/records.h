#pragma once
// The records callers fill for each kind of analytics hit.
#include <cstdint>
#include <string>

#include <boost/date_time/posix_time/ptime.hpp>

namespace AppMetrics {

struct CEventData {
  std::string action;      // ea
  std::string category;    // ec
  std::string screenName;  // cd, only when not empty
  int64_t value = -1;      // ev, only when not -1
};

struct CScreenViewData {
  std::string screenName;  // cd
};

struct CTimingData {
  std::string variable;  // utv
  std::string category;  // utc
  int64_t time = 0;      // utt
  // Start of the measured span (UTC); not-a-date-time means "when the timing is created".
  boost::posix_time::ptime start;
};

// Severities of exception hits: a fatal one is marked as such, a crash also ends the session.
inline constexpr int32_t kSeverityNonFatal = 1;
inline constexpr int32_t kSeverityFatal = 2;
inline constexpr int32_t kSeverityCrash = 3;

struct CExceptionData {
  std::string details;      // last part of exd
  std::string description;  // first part of exd
  uint32_t code = 0;        // appended to the description in hex when not 0
  int32_t severity = kSeverityNonFatal;
};

struct CBuildId {
  std::string buildId;
};

enum EApplicationStartType : int32_t {
  AST_Unspecified = 0,
  AST_Manual = 1,
  AST_SystemStartup = 2,
  AST_FirstStartAfterInstall = 3,
};

enum ESessionControl : int32_t {
  SC_Start = 0,
  SC_End = 1,
};

}  // namespace AppMetrics
