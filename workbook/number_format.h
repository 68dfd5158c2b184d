// How the workbook readers recognise dates: number formats that show a
// number as a date or time, and the ISO 8601 texts in which the zip-based
// formats store dates, times and durations.
#ifndef KVR_WORKBOOK_NUMBER_FORMAT_H_
#define KVR_WORKBOOK_NUMBER_FORMAT_H_

#include <optional>
#include <string_view>

namespace kvr {

// Built-in format ids that are dates or times: 14-22, 27-36, 45-47, 50-58;
// with `with_thai` also 71-81 (the Thai date formats of the binary format).
bool IsBuiltinDateFormat(int id, bool with_thai);

// An Office Open XML format code is a date when its first section holds one
// of d, m, y, h, s (either case) outside quoted text, backslash-escaped
// characters and bracketed parts other than [h], [m], [s] (so "[Red]0" is no
// date, "[h]:mm" is).
bool IsDateFormatCode(std::string_view code);

// The binary format's rule: quoted text, escaped characters (\ _ *) and every
// bracketed part are dropped; the rest is a date when it counts more date
// letters (y m d h s) than digit placeholders (0 # ?). "General" and "@" are not.
bool IsBiffDateFormatCode(std::string_view code);

// An ISO 8601 date or date-time ("2021-03-04", "2021-03-04T05:06:07.5") as a
// day serial of the 1900 system (day 0 is 30 December 1899) or, with
// `date1904`, of the 1904 system. A trailing time zone is ignored.
std::optional<double> ParseIsoDateTime(std::string_view text, bool date1904);

// An ISO 8601 duration ("PT10H10M10S", "P1DT2H", "-PT30M") in days. Years and
// months, which have no fixed length, are refused.
std::optional<double> ParseIsoDuration(std::string_view text);

}  // namespace kvr

#endif  // KVR_WORKBOOK_NUMBER_FORMAT_H_
