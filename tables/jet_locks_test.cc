#include "tables/jet_locks.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kvr {
namespace {

// The engine splits a transaction that would take more locks than the
// limit: exactly the limit is kept whole, one more is refused, and the count
// goes on past the refusal so that the engineer is told what the run needs.
TEST(JetLockCountTest, TheLimitItselfFitsAndTheCountGoesOnPastIt) {
  JetLockCount count(10);
  EXPECT_TRUE(count.Take(4));
  EXPECT_TRUE(count.Take(6));
  EXPECT_FALSE(count.Exceeded());
  EXPECT_FALSE(count.Take(1));
  EXPECT_FALSE(count.Take(5));
  EXPECT_TRUE(count.Exceeded());
  EXPECT_EQ(count.needed(), 16u);
  const std::string why = count.Refusal();
  EXPECT_NE(why.find("changes 16 records"), std::string::npos) << why;
  EXPECT_NE(why.find("more than the 10 locks"), std::string::npos) << why;
  EXPECT_NE(why.find("to at least 16"), std::string::npos) << why;
  count.Reset();
  EXPECT_FALSE(count.Exceeded());
  EXPECT_TRUE(count.Take(10));
}

#ifdef _WIN32
// Sets (or, with 0, deletes) MaxLocksPerFile under HKLM\`key`.
void SetLimit(const wchar_t* key, DWORD value) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  if (value == 0) {
    RegDeleteValueW(k, L"MaxLocksPerFile");
  } else {
    RegSetValueExW(k, L"MaxLocksPerFile", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }
  RegCloseKey(k);
}

// Each driver's engine reads its own key; of several ACE versions the
// smallest setting holds, as the run cannot tell which one the driver loads.
TEST(JetLocksPerFileTest, EachEngineReadsItsOwnRegistryKey) {
  const wchar_t* jet = L"SOFTWARE\\Microsoft\\Jet\\4.0\\Engines\\Jet 4.0";
  const wchar_t* ace16 = L"SOFTWARE\\Microsoft\\Office\\16.0\\Access Connectivity Engine\\Engines\\ACE";
  const wchar_t* ace12 = L"SOFTWARE\\Microsoft\\Office\\12.0\\Access Connectivity Engine\\Engines\\ACE";
  SetLimit(jet, 0);
  SetLimit(ace16, 0);
  SetLimit(ace12, 0);
  EXPECT_EQ(JetLocksPerFile("ODBCJT32.DLL"), kJetDefaultLocksPerFile);
  EXPECT_EQ(JetLocksPerFile("ACEODBC.DLL"), kJetDefaultLocksPerFile);
  SetLimit(jet, 200000);
  SetLimit(ace16, 300000);
  SetLimit(ace12, 150000);
  EXPECT_EQ(JetLocksPerFile("odbcjt32.dll"), 200000u);
  EXPECT_EQ(JetLocksPerFile("ACEODBC.DLL"), 150000u);
  SetLimit(jet, 0);
  SetLimit(ace16, 0);
  SetLimit(ace12, 0);
}
#endif

}  // namespace
}  // namespace kvr
