#include "tables/connection_string.h"

#include <gtest/gtest.h>

namespace kvr {
namespace {

TEST(ConnectionStringTest, EveryPasswordKeyIsRedactedWhateverItsSpelling) {
  const struct {
    const char* given;
    const char* shown;
  } cases[] = {
      {"DSN=plant;UID=eng;PWD=hunter2", "DSN=plant;UID=eng;PWD=***"},
      {"Driver={SQLite3};Password=a;Database=x", "Driver={SQLite3};Password=***;Database=x"},
      {"Passwd=SeCrEt;DSN=p", "Passwd=***;DSN=p"},
      {"\tPWD=SeCrEt;DSN=p", "\tPWD=***;DSN=p"},
      {"DSN=p; pwd =SeCrEt", "DSN=p; pwd =***"},
      {"DSN=p;MasterPassKey=SeCrEt;AdminPwdHash=SeCrEt", "DSN=p;MasterPassKey=***;AdminPwdHash=***"},
      // A braced value runs to its closing brace; "}}" is a brace of the value.
      {"PWD={x}}y;SeCrEt8};DSN=p", "PWD=***;DSN=p"},
      {"Driver={A;UID=b};PWD=SeCrEt", "Driver={A;UID=b};PWD=***"},
      // Options a driver takes in one attribute of its own: a secret there
      // is hidden too, whatever the attribute, quoted or not.
      {"DSN=p;pqopt={password=SeCrEt sslmode=require}", "DSN=p;pqopt={password=*** sslmode=require}"},
      {"DSN=p;pqopt={sslmode=require password = 'Se cr\\'Et' x=1}", "DSN=p;pqopt={sslmode=require password = *** x=1}"},
      {"DSN=p;Extra={A=1;PWD={x;y}}};B=2}", "DSN=p;Extra={A=1;PWD=***;B=2}"},
      {"DSN=p;Opts={a=1,passwd=SeCrEt,b=2}", "DSN=p;Opts={a=1,passwd=***,b=2}"},
      {"DSN=p;Note={heading=north}", "DSN=p;Note={heading=north}"},
      {"PWD={unclosed;SeCrEt", "PWD=***"},
      {"PWD=", "PWD=***"},
      {"DSN=plant", "DSN=plant"},
      {"PWD", "PWD"},
  };
  for (const auto& c : cases) EXPECT_EQ(RedactConnectionString(c.given), c.shown) << c.given;
}

TEST(ConnectionStringTest, OdbcPrefixInAnyCaseAfterBlanks) {
  for (const char* given : {"odbc:DSN=plant;PWD=hunter2", "ODBC:DSN=plant;PWD=hunter2", "  Odbc:DSN=plant;PWD=hunter2",
                            "\todbc:DSN=plant;PWD=hunter2"}) {
    const DatabaseLocation location = ParseDatabaseLocation(given);
    EXPECT_TRUE(location.odbc()) << given;
    EXPECT_EQ(location.value, "DSN=plant;PWD=hunter2");
    EXPECT_EQ(location.Shown(), "odbc:DSN=plant;PWD=***");
  }
  // A password right after the prefix is still a key of its own.
  EXPECT_EQ(RedactDatabaseArgument("odbc:PWD=SeCrEt5;Driver={x}"), "odbc:PWD=***;Driver={x}");
  for (const char* file : {"Switcher.db", "odbc.db", "C:\\odbc\\pwd=1.mdb", "odbc"}) {
    const DatabaseLocation location = ParseDatabaseLocation(file);
    EXPECT_FALSE(location.odbc()) << file;
    EXPECT_EQ(location.Shown(), file);
  }
}

// A value braced by BracedConnectionValue reads back as one value, whatever
// it holds.
TEST(ConnectionStringTest, ABracedValueStaysOneValue) {
  for (const std::string value : {"C:\\Plant\\Switcher.mdb", "C:\\a;b\\Sw=1.mdb", "x}y}};z{", "", "}"}) {
    const std::string connection = "Driver={Jet};Dbq=" + BracedConnectionValue(value) + ";PWD=x";
    const auto attributes = SplitConnectionString(connection);
    ASSERT_EQ(attributes.size(), 3u) << connection;
    std::string read(attributes[1].value.substr(1, attributes[1].value.size() - 2));
    for (std::size_t at = 0; (at = read.find("}}", at)) != std::string::npos; ++at) read.erase(at, 1);
    EXPECT_EQ(read, value) << connection;
    EXPECT_EQ(RedactConnectionString(connection).substr(connection.size() - 6), ";PWD=***");
  }
}

TEST(ConnectionStringTest, AttributesKeepTheirSpans) {
  const std::string s = "Driver={A;B};Dbq=C:\\x.mdb;;Flag";
  const auto attributes = SplitConnectionString(s);
  ASSERT_EQ(attributes.size(), 4u);
  EXPECT_EQ(attributes[0].key, "Driver");
  EXPECT_EQ(attributes[0].value, "{A;B}");
  EXPECT_EQ(attributes[1].value, "C:\\x.mdb");
  EXPECT_FALSE(attributes[2].assigned);
  EXPECT_EQ(attributes[3].key, "Flag");
}

}  // namespace
}  // namespace kvr
