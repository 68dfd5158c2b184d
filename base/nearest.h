// Finding the name that was probably meant: for a mistyped command, a
// heading that matches no keyword, a sheet that is not found.
#ifndef KVR_BASE_NEAREST_H_
#define KVR_BASE_NEAREST_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvr {

// The Levenshtein distance: single-character insertions, deletions and
// substitutions that turn `a` into `b`.
std::size_t EditDistance(std::string_view a, std::string_view b);

// The candidate nearest to `word` by edit distance, when it is near enough
// to be what was meant (at most a third of the word's length, and at least 3).
std::optional<std::string> Nearest(std::string_view word, const std::vector<std::string>& candidates);

// `s` in ASCII lower case with blanks, tabs and line breaks taken out:
// "Local Label " and "locallabel" fold alike.
std::string Folded(std::string_view s);

}  // namespace kvr

#endif  // KVR_BASE_NEAREST_H_
