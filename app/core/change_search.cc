#include "app/core/change_search.h"

#include <algorithm>
#include <numeric>

namespace kvr {
namespace {

constexpr char kCellSeparator = '\x1f';  // no cell holds it: a filter never spans two cells

// Rows compared against the cancel flag once per so many.
constexpr std::size_t kCancelCheckEvery = 4096;

}  // namespace

std::string ChangeCellText(const FieldChange& change, ChangeColumn column) {
  switch (column) {
    case ChangeColumn::kTable: return change.table;
    case ChangeColumn::kKey: return change.key;
    case ChangeColumn::kField: return change.field;
    case ChangeColumn::kOld: return FieldValueText(change.before);
    case ChangeColumn::kNew: return FieldValueText(change.after);
  }
  return {};
}

std::string FoldCase(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

ChangeSearch::ChangeSearch(const ChangeList& changes) : changes_(changes) {}

void ChangeSearch::MakeTexts() {
  std::lock_guard lock(texts_made_);
  if (!starts_.empty() || changes_.empty()) return;
  starts_.reserve(changes_.size() + 1);
  texts_.reserve(changes_.size() * 48);
  for (const FieldChange& change : changes_) {
    starts_.push_back(texts_.size());
    for (int c = 0; c < kChangeColumns; ++c) {
      if (c > 0) texts_ += kCellSeparator;
      texts_ += FoldCase(ChangeCellText(change, static_cast<ChangeColumn>(c)));
    }
  }
  starts_.push_back(texts_.size());
}

std::string_view ChangeSearch::TextOf(std::uint32_t row) const {
  return std::string_view(texts_).substr(starts_[row], starts_[row + 1] - starts_[row]);
}

std::optional<std::vector<std::uint32_t>> ChangeSearch::Select(const ChangeQuery& query,
                                                               const ChangeQuery* previous_query,
                                                               const std::vector<std::uint32_t>* previous,
                                                               const std::atomic<bool>& cancelled) {
  const std::string needle = FoldCase(query.filter);
  const bool narrows = previous != nullptr && previous_query != nullptr &&
                       previous_query->sort_column == query.sort_column &&
                       previous_query->descending == query.descending &&
                       needle.find(FoldCase(previous_query->filter)) != std::string::npos;
  std::vector<std::uint32_t> rows;
  if (narrows && needle == FoldCase(previous_query->filter)) return *previous;
  if (needle.empty() && !narrows) {
    rows.resize(changes_.size());
    std::iota(rows.begin(), rows.end(), 0U);
  } else {
    MakeTexts();
    auto keep = [&](std::uint32_t row) { return TextOf(row).find(needle) != std::string_view::npos; };
    const std::size_t count = narrows ? previous->size() : changes_.size();
    for (std::size_t i = 0; i < count; ++i) {
      if (i % kCancelCheckEvery == 0 && cancelled.load(std::memory_order_relaxed)) return std::nullopt;
      const auto row = narrows ? (*previous)[i] : static_cast<std::uint32_t>(i);
      if (keep(row)) rows.push_back(row);
    }
    if (narrows) return rows;  // already in the order asked for
  }
  if (!query.sort_column) return rows;
  // The column's texts once, in one buffer, then the rows ordered by them;
  // numbers by value.
  const ChangeColumn column = *query.sort_column;
  std::string texts;
  std::vector<std::pair<std::size_t, std::uint32_t>> keys(changes_.size());  // start and length in texts
  std::vector<std::int64_t> numbers(changes_.size());
  std::vector<char> numeric(changes_.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i % kCancelCheckEvery == 0 && cancelled.load(std::memory_order_relaxed)) return std::nullopt;
    const FieldChange change = changes_[rows[i]];
    const FieldValue* value = column == ChangeColumn::kOld ? &change.before
                              : column == ChangeColumn::kNew ? &change.after
                                                             : nullptr;
    if (value != nullptr && std::holds_alternative<std::int64_t>(*value)) {
      numeric[rows[i]] = 1;
      numbers[rows[i]] = std::get<std::int64_t>(*value);
    } else {
      const std::string text = ChangeCellText(change, column);
      keys[rows[i]] = {texts.size(), static_cast<std::uint32_t>(text.size())};
      texts += text;
    }
  }
  auto key = [&](std::uint32_t row) { return std::string_view(texts).substr(keys[row].first, keys[row].second); };
  auto less = [&](std::uint32_t a, std::uint32_t b) {
    if (numeric[a] != numeric[b]) return numeric[a] > numeric[b];  // numbers before texts
    return numeric[a] != 0 ? numbers[a] < numbers[b] : key(a) < key(b);
  };
  if (query.descending) std::stable_sort(rows.begin(), rows.end(), [&](auto a, auto b) { return less(b, a); });
  else std::stable_sort(rows.begin(), rows.end(), less);
  if (cancelled.load()) return std::nullopt;
  return rows;
}

ChangeSelector::ChangeSelector(const ChangeList& changes, Deliver deliver)
    : search_(changes), deliver_(std::move(deliver)), thread_([this] { Loop(); }) {}

ChangeSelector::~ChangeSelector() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    cancel_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void ChangeSelector::Ask(ChangeQuery query, std::uint64_t generation) {
  {
    std::lock_guard lock(mutex_);
    pending_ = Job{std::move(query), generation};
    cancel_ = true;
  }
  wake_.notify_one();
}

void ChangeSelector::Loop() {
  std::optional<ChangeQuery> last_query;
  Rows last_rows;
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || pending_.has_value(); });
      if (stop_) return;
      job = std::move(*pending_);
      pending_.reset();
      cancel_ = false;
    }
    auto rows = search_.Select(job.query, last_query ? &*last_query : nullptr, last_rows.get(), cancel_);
    if (!rows) continue;  // a later query took its place
    last_query = job.query;
    last_rows = std::make_shared<const std::vector<std::uint32_t>>(std::move(*rows));
    deliver_(last_rows, job.generation);
  }
}

}  // namespace kvr
