#ifndef KVR_WORKBOOK_WORKBOOK_ERROR_H_
#define KVR_WORKBOOK_WORKBOOK_ERROR_H_

#include <stdexcept>
#include <string>

namespace kvr {

// A workbook file, or a part of it, that cannot be read: not a workbook,
// truncated, corrupt, encrypted, or beyond the reader's limits.
class WorkbookError : public std::runtime_error {
 public:
  explicit WorkbookError(const std::string& what) : std::runtime_error(what) {}
};

// A workbook past one of the reader's bounds (cells, text, nesting, inflated
// size, sheets): far beyond any real installation workbook, so a hostile or
// broken file. A run that meets one ends before anything is written.
class WorkbookLimitError : public WorkbookError {
 public:
  using WorkbookError::WorkbookError;
};

}  // namespace kvr

#endif  // KVR_WORKBOOK_WORKBOOK_ERROR_H_
