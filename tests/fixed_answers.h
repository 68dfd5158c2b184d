// Stand-ins for the file dialog and the overwrite question that answer the
// same every time, for programs that drive a window without a user (tests,
// screenshots).
#ifndef KVR_TESTS_FIXED_ANSWERS_H_
#define KVR_TESTS_FIXED_ANSWERS_H_

#include <string>

#include "app/core/output_folder.h"
#include "app/core/run_context.h"

namespace kvr::testing {

// Hands a run `database` when it asks for the database, `workbook` otherwise.
class FixedFiles : public FileChooser {
 public:
  std::string database, workbook;
  std::string GetFileName(const std::string&, const std::string& extension, int) override {
    return AsksForDatabase(extension) ? database : workbook;
  }
};

// Answers every overwrite question Yes.
class AlwaysYes : public OverwriteQuestion {
 public:
  bool Ask(const std::string&, const std::string&) override { return true; }
};

}  // namespace kvr::testing

#endif  // KVR_TESTS_FIXED_ANSWERS_H_
