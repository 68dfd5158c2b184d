// How many records one transaction may change in a Jet database.
//
// The Jet and ACE engines count the locks a transaction takes, one a record
// under record-level locking (a page's worth of records a lock under
// page-level locking), against their MaxLocksPerFile setting, 9,500 unless
// the machine's registry says otherwise. A transaction that would take more
// is split into parts and committed in part, without an error
// (learn.microsoft.com/office/client-developer/access/desktop-database-
// reference/initializing-the-microsoft-access-database-engine-database-
// driver, "MaxLocksPerFile"). A conversion therefore never sends more
// changed records in one transaction than that setting: it counts them, one
// lock a record (the most either locking mode takes), and where a run would
// need more it keeps nothing and says how many it needs.
#ifndef KVR_TABLES_JET_LOCKS_H_
#define KVR_TABLES_JET_LOCKS_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace kvr {

// The engines' own default.
inline constexpr std::size_t kJetDefaultLocksPerFile = 9500;

// The MaxLocksPerFile of the engine behind the Jet driver `driver_file`
// (SQL_DRIVER_NAME: "ODBCJT32.DLL" for Jet 4.0, "ACEODBC.DLL" for ACE), as
// this machine's registry sets it; the smallest where several ACE versions
// set it; the default where none does or the machine has no registry.
std::size_t JetLocksPerFile(std::string_view driver_file);

// Counts the records a transaction changes against the engine's limit.
class JetLockCount {
 public:
  explicit JetLockCount(std::size_t limit) : limit_(limit) {}
  // True when `records` more changed records fit in the transaction; they
  // are counted either way, so that a refusal can say how many the run needs.
  bool Take(std::size_t records);
  bool Exceeded() const { return needed_ > limit_; }
  std::size_t needed() const { return needed_; }
  std::size_t limit() const { return limit_; }
  void Reset() { needed_ = 0; }
  // Why a transaction that needed more than the limit keeps nothing, and
  // what the engineer can do.
  std::string Refusal() const;

 private:
  std::size_t limit_;
  std::size_t needed_ = 0;  // asked for in this transaction, sent or not
};

}  // namespace kvr

#endif  // KVR_TABLES_JET_LOCKS_H_
