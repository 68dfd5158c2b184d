// What a --database value names, and ODBC connection strings read by their
// grammar: "key=value" pairs separated by ';', a value in braces may hold ';'
// and '=' and writes a '}' of its own as "}}".
//
// A value that begins with "odbc:" (in any case, after blanks) is a
// connection string; anything else is a file. Passwords never leave the
// program: every text that shows a connection string shows it redacted.
#ifndef KVR_TABLES_CONNECTION_STRING_H_
#define KVR_TABLES_CONNECTION_STRING_H_

#include <string>
#include <string_view>
#include <vector>

namespace kvr {

// The prefix that marks a --database value as an ODBC connection string.
inline constexpr std::string_view kOdbcPrefix = "odbc:";

// A --database value, told apart once.
struct DatabaseLocation {
  enum class Kind { kFile, kOdbc };
  Kind kind = Kind::kFile;
  std::string value;  // the file's path as given, or the connection string without "odbc:"

  bool odbc() const { return kind == Kind::kOdbc; }
  // As it may be shown anywhere: the file's path, or "odbc:" and the
  // connection string with every password replaced by "***".
  std::string Shown() const;
};

DatabaseLocation ParseDatabaseLocation(std::string_view argument);

// One attribute of a connection string, as it stands in the text:
// `key` untrimmed, `value` with its braces; [begin, end) its span, the ';'
// that ends it not included.
struct ConnectionAttribute {
  std::string_view key;
  std::string_view value;
  std::size_t value_begin = 0, end = 0;
  bool assigned = false;  // false for a piece with no '='
};
std::vector<ConnectionAttribute> SplitConnectionString(std::string_view connection);

// True for a key that drivers take a password under: PWD, Password, Passwd,
// or any key whose name holds "pass" or "pwd" (case and blanks aside).
bool IsPasswordKey(std::string_view key);

// `value` as a connection string's value that may hold anything: in braces,
// each '}' of its own written twice ("C:\a;b}.mdb" -> "{C:\a;b}}.mdb}").
std::string BracedConnectionValue(std::string_view value);

// True when `connection` gives a value for `key` (case and blanks aside).
bool HasConnectionKey(std::string_view connection, std::string_view key);

// `connection` with the value of every password key replaced by "***",
// password options inside another attribute's value included
// ("pqopt={password=***}").
std::string RedactConnectionString(std::string_view connection);

// A --database value as it may be shown: a connection string redacted, a
// file's path as given.
std::string RedactDatabaseArgument(std::string_view argument);

}  // namespace kvr

#endif  // KVR_TABLES_CONNECTION_STRING_H_
