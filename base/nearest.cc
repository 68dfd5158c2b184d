#include "base/nearest.h"

#include <algorithm>
#include <cctype>

namespace kvr {

std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

std::optional<std::string> Nearest(std::string_view word, const std::vector<std::string>& candidates) {
  std::optional<std::string> best;
  std::size_t best_distance = std::max<std::size_t>(3, word.size() / 3) + 1;
  for (const auto& c : candidates) {
    const std::size_t d = EditDistance(word, c);
    if (d < best_distance) {
      best_distance = d;
      best = c;
    }
  }
  return best;
}

std::string Folded(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (const char c : s) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

}  // namespace kvr
