#include "tables/odbc_dialect.h"

#include <gtest/gtest.h>

namespace kvr::odbc {
namespace {

const TableDef kSets = {"OptoRelaySets", "SetNum",
                        {{"Label", "VARCHAR(8) NOT NULL DEFAULT ''"}, {"Relay1", "TINYINT NOT NULL DEFAULT 0"}},
                        5};

// Names are quoted with the driver's character, doubled inside a name; a
// driver that quotes nothing leaves them bare.
TEST(OdbcDialectTest, NamesAreQuotedTheDriversWay) {
  EXPECT_EQ(OdbcDialect("ACCESS", "04.00.0000", "`").Quote("Chan Num"), "`Chan Num`");
  EXPECT_EQ(OdbcDialect("PostgreSQL", "15.0", "\"").Quote("a\"b"), "\"a\"\"b\"");
  EXPECT_EQ(OdbcDialect("Other", "1", " ").Quote("Label"), "Label");
}

// Joined updates only where the engine is known to take them.
TEST(OdbcDialectTest, JoinedUpdatesOnlyWhereTheEngineTakesThem) {
  EXPECT_TRUE(OdbcDialect("PostgreSQL", "15.0", "\"").JoinsUpdates());
  EXPECT_TRUE(OdbcDialect("SQLite", "3.40.1", "\"").JoinsUpdates());
  EXPECT_FALSE(OdbcDialect("SQLite", "3.32.3", "\"").JoinsUpdates());
  EXPECT_FALSE(OdbcDialect("ACCESS", "04.00.0000", "`").JoinsUpdates());
  EXPECT_FALSE(OdbcDialect("Other", "9.9", "\"").JoinsUpdates());  // unknown engines: one record a statement
  EXPECT_FALSE(OdbcDialect("SQLite", "3.40.1", "\"").KeepsTypes());
  EXPECT_TRUE(OdbcDialect("ACCESS", "04.00.0000", "`").KeepsTypes());
}

// Jet's CREATE TABLE has no DEFAULT and calls a one-byte integer BYTE: its
// records are inserted with every field's default instead, and the copies
// that double the table take them along.
TEST(OdbcDialectTest, JetTablesTakeTheirDefaultsFromTheInsert) {
  const auto s = OdbcDialect("ACCESS", "04.00.0000", "`").MakeTable(kSets);
  ASSERT_EQ(s.size(), 5u);  // the table, its first record, then 2, 4 and 5 records
  EXPECT_EQ(s[0],
            "CREATE TABLE `OptoRelaySets` (`SetNum` SMALLINT NOT NULL CONSTRAINT `PrimaryKey` PRIMARY KEY, "
            "`Label` VARCHAR(8) NOT NULL, `Relay1` BYTE NOT NULL)");
  EXPECT_EQ(s[1], "INSERT INTO `OptoRelaySets` (`SetNum`, `Label`, `Relay1`) VALUES (1, '', 0)");
  EXPECT_EQ(s[2], "INSERT INTO `OptoRelaySets` (`SetNum`, `Label`, `Relay1`) SELECT `SetNum` + 1, `Label`, "
                  "`Relay1` FROM `OptoRelaySets` WHERE `SetNum` <= 1");
  EXPECT_EQ(s[3], "INSERT INTO `OptoRelaySets` (`SetNum`, `Label`, `Relay1`) SELECT `SetNum` + 2, `Label`, "
                  "`Relay1` FROM `OptoRelaySets` WHERE `SetNum` <= 2");
  for (const std::string& statement : s) EXPECT_EQ(statement.find("DEFAULT"), std::string::npos) << statement;
}

// Other engines keep the declared defaults; the doubling stops at the size
// (1, 2, 4, then the last 1 for 5 records).
TEST(OdbcDialectTest, OtherEnginesKeepTheirDefaultsAndDoubleToTheSize) {
  const auto s = OdbcDialect("SQLite", "3.40.1", "\"").MakeTable(kSets);
  ASSERT_EQ(s.size(), 5u);
  EXPECT_EQ(s[0],
            "CREATE TABLE \"OptoRelaySets\" (\"SetNum\" SMALLINT NOT NULL PRIMARY KEY, \"Label\" VARCHAR(8) NOT "
            "NULL DEFAULT '', \"Relay1\" SMALLINT NOT NULL DEFAULT 0)");
  EXPECT_EQ(s[1], "INSERT INTO \"OptoRelaySets\" (\"SetNum\") VALUES (1)");
  EXPECT_EQ(s[4], "INSERT INTO \"OptoRelaySets\" (\"SetNum\") SELECT \"SetNum\" + 4 FROM \"OptoRelaySets\" WHERE "
                  "\"SetNum\" <= 1");
  const auto pg = OdbcDialect("PostgreSQL", "15.0", "\"").MakeTable(kSets);
  ASSERT_EQ(pg.size(), 3u);
  EXPECT_NE(pg[0].find("WITH (fillfactor = 30)"), std::string::npos);
  EXPECT_EQ(pg[0].find("PRIMARY KEY"), std::string::npos);
  EXPECT_EQ(pg[1], "INSERT INTO \"OptoRelaySets\" (\"SetNum\") SELECT generate_series(1, 5)");
  EXPECT_EQ(pg[2], "ALTER TABLE \"OptoRelaySets\" ADD PRIMARY KEY (\"SetNum\")");
  EXPECT_EQ(OdbcDialect("ACCESS", "04.00.0000", "`").MakeTable({"T", "K", {}, 0}).size(), 1u);
}

// A joined update: one row of VALUES a record (the first typed), a field
// that only some records change written where its flag's bit is set, the
// addresses bounded; packed, the numbers travel in one array.
TEST(OdbcDialectTest, AJoinedUpdateWritesFlaggedFieldsWhereTheirBitIsSet) {
  const std::vector<JoinedField> fields = {{"Label", ColumnRule::kText, -1}, {"Type", ColumnRule::kInteger, 0}};
  EXPECT_EQ(OdbcDialect("SQLite", "3.40.1", "\"").JoinedUpdate("T", "rowid", fields, 1, 2, false),
            "UPDATE \"T\" SET \"Label\"=v.column3,\"Type\"=CASE WHEN (v.column2 & 1)<>0 THEN v.column4 ELSE "
            "\"T\".\"Type\" END FROM (VALUES (CAST(? AS INTEGER),CAST(? AS INTEGER),CAST(? AS VARCHAR),CAST(? AS "
            "INTEGER)),(?,?,?,?)) AS v WHERE \"T\".\"rowid\"=v.column1 AND \"T\".\"rowid\" BETWEEN ? AND ?");
  EXPECT_EQ(OdbcDialect("PostgreSQL", "15.0", "\"").JoinedUpdate("T", "K", fields, 1, 1, true),
            "UPDATE \"T\" SET \"Label\"=v.column2,\"Type\"=CASE WHEN (v.column1[2] & 1)<>0 THEN v.column1[3] "
            "ELSE \"T\".\"Type\" END FROM (VALUES (CAST(? AS BIGINT[]),CAST(? AS VARCHAR))) AS v WHERE "
            "\"T\".\"K\"=v.column1[1] AND \"T\".\"K\" BETWEEN ? AND ?");
}

}  // namespace
}  // namespace kvr::odbc
