// A stand-in for the Jet ODBC driver ("Microsoft Access Driver (*.mdb,
// *.accdb)"), for the tests of a machine that has none: a unixODBC driver
// that stands on the SQLite ODBC driver and answers and refuses as the Jet
// driver's documentation says where the program's calls meet a difference.
// A Jet file is a stub holding Jet's header; its tables live in a SQLite
// file beside it, "<file>.standin".
#ifndef KVR_TESTS_ODBC_JET_STANDIN_H_
#define KVR_TESTS_ODBC_JET_STANDIN_H_

#include <sql.h>
#include <sqlext.h>

namespace kvr::standin {

// The driver underneath's entry point `name`; the process ends when it has none.
void* Real(const char* name);

// Drops what the stand-in said of `handle` once the handle is used again.
void Forget(SQLHANDLE handle);

}  // namespace kvr::standin

#endif  // KVR_TESTS_ODBC_JET_STANDIN_H_
