// A moment as ISO 8601 text in UTC ("2026-12-09T11:35:00Z"): reports and
// the documents export writes say their times so.
#ifndef KVR_BASE_ISO_TIME_H_
#define KVR_BASE_ISO_TIME_H_

#include <ctime>
#include <string>

namespace kvr {

inline std::string IsoUtcTime(std::time_t t) {
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &t);
#else
  gmtime_r(&t, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace kvr

#endif  // KVR_BASE_ISO_TIME_H_
