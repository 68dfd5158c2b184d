// The run's problem list: every step that fails records what failed and where,
// and the run goes on with the next step. Front ends show the list; nothing in
// the core prints or exits.
#ifndef KVR_BASE_PROBLEMS_H_
#define KVR_BASE_PROBLEMS_H_

#include <cstddef>
#include <string>
#include <vector>

namespace kvr {

// Error numbers as ErrorText shows them (6 is an overflow, 13 a type mismatch, ...).
enum class ErrorCode : int {
  kOverflow = 6,
  kSubscriptOutOfRange = 9,
  kTypeMismatch = 13,
  kFileNotFound = 53,
  kFileAlreadyOpen = 55,
  kDiskFull = 61,
  kPermissionDenied = 70,
  kPathFileAccess = 75,
  kInvalidFormat = 321,
  kApplicationDefined = 1004,
  kDatabase = 3000,
};

// The words ErrorText shows for an error number ("Overflow", ...).
const char* ErrorDescription(ErrorCode code);

struct Problem {
  std::string place;    // "Sources!F12", "InptAlphas, Chan Num 7", a file name; may be empty
  std::string message;  // plain words: what failed and what was left as it was
  ErrorCode code = ErrorCode::kApplicationDefined;

  // "place: message", or the message alone when there is no place; control
  // characters written out, so a problem is always one line.
  std::string ToString() const;
};

// Collects problems in the order they happen. Not thread-safe: one list per run.
class Problems {
 public:
  void Report(std::string place, std::string message,
              ErrorCode code = ErrorCode::kApplicationDefined);

  const std::vector<Problem>& list() const { return list_; }
  bool empty() const { return list_.empty(); }
  std::size_t size() const { return list_.size(); }

  // The most recent failure as ": Error #  6 - Overflow" (Str() gives a
  // non-negative number one leading blank); "" while nothing has failed.
  const std::string& ErrorText() const { return error_text_; }

  // Reports each of `later`'s problems after these, in its order.
  void Append(const Problems& later);

  void Clear();

 private:
  std::vector<Problem> list_;
  std::string error_text_;
};

}  // namespace kvr

#endif  // KVR_BASE_PROBLEMS_H_
