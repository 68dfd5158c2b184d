#include "base/problems.h"

#include <utility>

#include "base/utf8.h"

namespace kvr {

const char* ErrorDescription(ErrorCode code) {
  switch (code) {
    case ErrorCode::kOverflow: return "Overflow";
    case ErrorCode::kSubscriptOutOfRange: return "Subscript out of range";
    case ErrorCode::kTypeMismatch: return "Type mismatch";
    case ErrorCode::kFileNotFound: return "File not found";
    case ErrorCode::kFileAlreadyOpen: return "File already open";
    case ErrorCode::kDiskFull: return "Disk full";
    case ErrorCode::kPermissionDenied: return "Permission denied";
    case ErrorCode::kPathFileAccess: return "Path/File access error";
    case ErrorCode::kInvalidFormat: return "Invalid file format";
    case ErrorCode::kApplicationDefined: return "Application-defined or object-defined error";
    case ErrorCode::kDatabase: return "Database error";
  }
  return "Unknown error";
}

std::string Problem::ToString() const {
  if (place.empty()) return EscapeControls(message);
  return EscapeControls(place) + ": " + EscapeControls(message);
}

void Problems::Append(const Problems& later) {
  for (const Problem& p : later.list_) Report(p.place, p.message, p.code);
}

void Problems::Report(std::string place, std::string message, ErrorCode code) {
  error_text_ = ": Error #  " + std::to_string(static_cast<int>(code)) + " - " +
                ErrorDescription(code);
  list_.push_back(Problem{std::move(place), std::move(message), code});
}

void Problems::Clear() {
  list_.clear();
  error_text_.clear();
}

}  // namespace kvr
