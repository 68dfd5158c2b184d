// The outcome of an operation that can fail without ending a run or a phase:
// OK, or an error with its reason in plain words. Operations that produce a
// value return a Result: the value, or the Status that says why there is
// none. Exceptions are kept for what ends a whole run or phase
// (WorkbookLimitError, DatabaseFailure) and for failures deep inside a
// reader or engine that its caller reports as one problem.
#ifndef KVR_BASE_STATUS_H_
#define KVR_BASE_STATUS_H_

#include <optional>
#include <string>
#include <utility>

namespace kvr {

class [[nodiscard]] Status {
 public:
  static Status Ok() { return Status(); }
  static Status Error(std::string why) { return Status(std::move(why)); }

  bool ok() const { return !why_.has_value(); }
  // The reason; "" when ok.
  const std::string& why() const {
    static const std::string kNone;
    return why_ ? *why_ : kNone;
  }

 private:
  Status() = default;
  explicit Status(std::string why) : why_(std::move(why)) {}
  std::optional<std::string> why_;
};

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)), status_(Status::Ok()) {}  // NOLINT: a value is a success
  Result(Status error) : status_(std::move(error)) {}                   // NOLINT: a Status is the failure

  bool ok() const { return value_.has_value(); }
  const T& operator*() const { return *value_; }
  T& operator*() { return *value_; }
  const T* operator->() const { return &*value_; }
  const Status& status() const { return status_; }
  const std::string& why() const { return status_.why(); }

 private:
  std::optional<T> value_;
  Status status_;
};

}  // namespace kvr

#endif  // KVR_BASE_STATUS_H_
