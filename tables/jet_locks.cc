#include "tables/jet_locks.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kvr {
namespace {

#ifdef _WIN32
std::optional<std::size_t> RegistryNumber(const std::wstring& key) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"MaxLocksPerFile", RRF_RT_REG_DWORD, nullptr, &value, &size) !=
          ERROR_SUCCESS ||
      value == 0) {
    return std::nullopt;
  }
  return value;
}

// The versions under which ACE keeps its settings: "12.0", "14.0", "16.0"...,
// as installed and as a click-to-run installation mirrors them.
std::vector<std::wstring> AceKeys() {
  std::vector<std::wstring> keys;
  for (const wchar_t* root_key :
       {L"SOFTWARE\\Microsoft\\Office",
        L"SOFTWARE\\Microsoft\\Office\\ClickToRun\\REGISTRY\\MACHINE\\Software\\Microsoft\\Office"}) {
    const std::wstring office = root_key;
    HKEY root = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, office.c_str(), 0, KEY_READ, &root) != ERROR_SUCCESS) continue;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
      DWORD length = 256;
      if (RegEnumKeyExW(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      keys.push_back(office + L"\\" + name + L"\\Access Connectivity Engine\\Engines\\ACE");
    }
    RegCloseKey(root);
  }
  return keys;
}
#endif

}  // namespace

std::size_t JetLocksPerFile(std::string_view driver_file) {
  std::optional<std::size_t> limit;
#ifdef _WIN32
  std::string file(driver_file);
  for (char& c : file) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // The older driver runs Jet 4.0, whose settings lie under its own key; the
  // newer one runs ACE.
  const std::vector<std::wstring> keys = file.find("ACE") != std::string::npos
                                             ? AceKeys()
                                             : std::vector<std::wstring>{L"SOFTWARE\\Microsoft\\Jet\\4.0\\Engines\\Jet 4.0"};
  for (const std::wstring& key : keys) {
    if (const auto found = RegistryNumber(key)) limit = std::min(limit.value_or(*found), *found);
  }
#else
  (void)driver_file;
#endif
  return limit.value_or(kJetDefaultLocksPerFile);
}

bool JetLockCount::Take(std::size_t records) {
  needed_ += records;
  return needed_ <= limit_;
}

std::string JetLockCount::Refusal() const {
  return "this conversion changes " + std::to_string(needed_) +
         " records of the Jet database in one transaction, more than the " + std::to_string(limit_) +
         " locks its engine lets a transaction take (its MaxLocksPerFile setting); past that the engine keeps a "
         "transaction in parts, so this run keeps nothing and nothing in the database was changed. Raise "
         "MaxLocksPerFile in the registry, for the engine the driver uses (Jet 4.0 or Access Connectivity "
         "Engine), to at least " + std::to_string(needed_) + " and run again";
}

}  // namespace kvr
