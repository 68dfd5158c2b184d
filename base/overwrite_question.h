// The question a file writer asks before replacing an existing file. The
// command line answers it from --yes/--no or a terminal prompt, the window
// with a message box.
#ifndef KVR_BASE_OVERWRITE_QUESTION_H_
#define KVR_BASE_OVERWRITE_QUESTION_H_

#include <string>

namespace kvr {

class OverwriteQuestion {
 public:
  virtual ~OverwriteQuestion() = default;
  // Shows `text` under `title` with the buttons Yes (the default) and No;
  // true for Yes.
  virtual bool Ask(const std::string& text, const std::string& title) = 0;
};

// The text and title of the question for `path`: path & " exists." & CR & CR &
// "Do you wish to overwrite?", titled "Save Inhibits".
inline std::string OverwriteQuestionText(const std::string& path) {
  return path + " exists.\r\rDo you wish to overwrite?";
}
inline constexpr const char* kOverwriteQuestionTitle = "Save Inhibits";

}  // namespace kvr

#endif  // KVR_BASE_OVERWRITE_QUESTION_H_
