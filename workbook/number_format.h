// Whether a cell's number format shows its number as a date or time. Both
// workbook readers use this to tell date cells from plain numbers.
#ifndef KVR_WORKBOOK_NUMBER_FORMAT_H_
#define KVR_WORKBOOK_NUMBER_FORMAT_H_

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

}  // namespace kvr

#endif  // KVR_WORKBOOK_NUMBER_FORMAT_H_
