// What a field's declared type lets it hold, enforced on every assignment
// by each database engine alike: VARCHAR(n) and its kin hold at most n
// characters, SMALLINT 16 bits, TINYINT/BYTE 0..255, INTEGER 32 bits, as
// Jet's declared types do.
#ifndef KVR_TABLES_COLUMN_RULE_H_
#define KVR_TABLES_COLUMN_RULE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tables/switcher_database.h"

namespace kvr {

struct ColumnRule {
  std::string name;  // as declared
  enum Kind { kAny, kText, kInteger } kind = kAny;
  std::size_t max_chars = 0;      // kText: 0 = unlimited
  std::int64_t min = 0, max = 0;  // kInteger
};

// The rule of a column declared with the SQL type text `declared`
// ("VARCHAR(8)", "SMALLINT"); unknown types hold anything.
ColumnRule RuleFor(std::string name, std::string declared);

// The integer rules by width: 16-bit, byte (0..255), 32-bit.
ColumnRule SmallIntRule(std::string name);
ColumnRule ByteRule(std::string name);
ColumnRule IntegerRule(std::string name);

// Checks `v` against the column's rule and converts it where a typed column
// accepts it (a number into a text field, numeric text into a number field).
// Throws DatabaseError when it does not fit.
FieldValue Coerce(const ColumnRule& rule, FieldValue v);

// ASCII lower case, for names matched without regard to case.
std::string Lower(std::string_view s);

}  // namespace kvr

#endif  // KVR_TABLES_COLUMN_RULE_H_
