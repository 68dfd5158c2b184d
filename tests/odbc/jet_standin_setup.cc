// The Jet stand-in's setup routine for Windows programs under Wine: the
// ConfigDSN entry that SQLConfigDataSource calls in a driver's setup DLL
// (named by the driver's "Setup" value in the registry's ODBCINST.INI).
// It answers CREATE_DB as the Jet driver does: "CREATE_DB=<path>" with an
// optional sort order after it, the path quoted when it holds blanks,
// refused where a database exists (learn.microsoft.com/sql/odbc/microsoft/
// sqlconfigdatasource-access-driver). The file made is a Jet file as the
// stand-in driver finds it (tests/odbc/jet_standin.h): Jet's header, its
// tables made later beside it by the driver underneath.
#include <windows.h>
#include <odbcinst.h>

#include <string>

namespace {

// The value of `key` among the attributes: "key=value" texts, each ended
// by a zero, the list by another; nothing when the key is not there.
std::wstring Attribute(LPCWSTR attributes, const std::wstring& key) {
  for (LPCWSTR at = attributes; at != nullptr && *at != L'\0'; at += std::wcslen(at) + 1) {
    const std::wstring pair(at);
    const std::size_t eq = pair.find(L'=');
    if (eq != std::wstring::npos && CompareStringOrdinal(pair.c_str(), static_cast<int>(eq), key.c_str(),
                                                         static_cast<int>(key.size()), TRUE) == CSTR_EQUAL) {
      return pair.substr(eq + 1);
    }
  }
  return {};
}

// The path of a CREATE_DB value: quoted, or up to the sort order after a blank.
std::wstring PathOf(const std::wstring& value) {
  if (!value.empty() && value[0] == L'"') {
    const std::size_t end = value.find(L'"', 1);
    return value.substr(1, end == std::wstring::npos ? std::wstring::npos : end - 1);
  }
  return value.substr(0, value.find(L' '));
}

BOOL Fail(LPCWSTR message) {
  SQLPostInstallerErrorW(ODBC_ERROR_REQUEST_FAILED, message);
  return FALSE;
}

}  // namespace

extern "C" __declspec(dllexport) BOOL INSTAPI ConfigDSNW(HWND, WORD request, LPCWSTR, LPCWSTR attributes) {
  if (request != ODBC_ADD_DSN) return Fail(L"the stand-in makes databases only");
  const std::wstring path = PathOf(Attribute(attributes, L"CREATE_DB"));
  if (path.empty()) return Fail(L"the stand-in makes databases only (CREATE_DB)");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return Fail(GetLastError() == ERROR_FILE_EXISTS ? L"Database already exists." : L"Cannot create the database.");
  }
  char header[4096] = {};
  const char kind[] = "Standard Jet DB";
  for (int i = 0; i < 15; ++i) header[4 + i] = kind[i];
  DWORD written = 0;
  const BOOL ok = WriteFile(file, header, sizeof header, &written, nullptr) && written == sizeof header;
  CloseHandle(file);
  return ok ? TRUE : Fail(L"Cannot write the database.");
}
