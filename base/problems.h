// The run's report: problems (a step that failed: what failed, where, and
// what was left as it was) and notices (a place in the workbook where the
// rules did something the engineer probably did not mean; nothing failed and
// every output is as the rules make it). Each step records into the list and
// the run goes on with the next step. Front ends show the lists; nothing in
// the core prints or exits.
#ifndef KVR_BASE_PROBLEMS_H_
#define KVR_BASE_PROBLEMS_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
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
// The tag of a problem that has none of its own: "value-too-large", "database", ...
const char* TagOf(ErrorCode code);

// Where a report points: cells of a worksheet, a record of a database table,
// or anything else by name (a file, a step). Built from a plain string, it is
// the last kind.
struct Where {
  std::string sheet;  // a worksheet's name
  std::string cells;  // on `sheet`: "F12", "A10:A193"; empty for the sheet as a whole
  std::string table;  // a database table
  std::string key;    // in `table`: "Chan Num 7"
  std::string other;  // a file, a step

  Where() = default;
  Where(std::string place) : other(std::move(place)) {}  // NOLINT: a plain place converts
  Where(const char* place) : other(place) {}             // NOLINT

  static Where Sheet(std::string sheet, std::string cells = {});
  static Where Record(std::string table, std::string key);

  // "Sources!F12" (a sheet name that is not one plain word quoted as the
  // spreadsheet application quotes it), "Sources", "InptAlphas, Chan Num 7",
  // or the other place.
  std::string ToString() const;
};

struct Problem {
  Where where;
  std::string message;  // plain words: what failed and what reaches the outputs
  ErrorCode code = ErrorCode::kApplicationDefined;
  // The stable, machine-readable kind a report names it by ("sheet-missing",
  // "number-doubt"); listed in docs/report.md.
  std::string tag;

  std::string place() const { return where.ToString(); }  // may be empty

  // "place: message", or the message alone when there is no place; control
  // characters written out, so a problem is always one line.
  std::string ToString() const;
};

// A notice has a place and a message like a problem; it has no error number.
using Notice = Problem;

// Collects problems and notices in the order they happen. Not thread-safe:
// one list per run, or per phase of it.
class Problems {
 public:
  // Notices listed per sheet or table; past this many, one more notice
  // counts the rest, so that a sheet of one mistake repeated on every row
  // stays readable (and a hostile one stays small).
  static constexpr std::size_t kNoticesPerPlace = 100;

  // Without a tag a problem is tagged by its error number (TagOf).
  void Report(Where where, std::string message, ErrorCode code = ErrorCode::kApplicationDefined,
              std::string tag = {});
  // Records a problem made beforehand (a file judged before it is saved).
  void Report(const Problem& problem) { Report(problem.where, problem.message, problem.code, problem.tag); }
  void Note(Where where, std::string message, std::string tag = "notice");

  // The tag of the notice that counts those past kNoticesPerPlace.
  static constexpr const char* kUnlistedTag = "notices-unlisted";
  // How many notices of each place went unlisted: the place as the counting
  // notice names it, and the count.
  std::vector<std::pair<std::string, std::size_t>> Unlisted() const;

  const std::vector<Problem>& list() const { return list_; }
  bool empty() const { return list_.empty(); }
  std::size_t size() const { return list_.size(); }
  const std::vector<Notice>& notices() const { return notices_; }

  // The tag of a listing: values a run does not read that the engineer keeps
  // for themselves (a column under a heading no field goes by, a row of a
  // label no rule reads). Listings are kept with the notices and shown with
  // them, but they are no mistake: NoticesNotListings leaves them out, and so does
  // --strict.
  static constexpr const char* kNotReadTag = "not-read";
  static bool IsListing(const Notice& n) { return n.tag == kNotReadTag; }
  // "not read" for a listing, "notice" for any other notice: how lists show its kind.
  static const char* KindOf(const Notice& n) { return IsListing(n) ? "not read" : "notice"; }
  // The notices that are not listings.
  std::size_t NoticesNotListings() const;

  // The problem or notice stored last, while nothing else has been stored
  // since; nullopt when the last notice was only counted (past the cap).
  struct EntryRef {
    bool notice = false;
    std::size_t index = 0;
  };
  std::optional<EntryRef> LastStored() const { return last_; }
  // Replaces `part` of the entry's message with `replacement`, where it occurs.
  void Amend(EntryRef entry, std::string_view part, std::string_view replacement);

  // A claim an entry makes of what a record's field becomes: `said` is
  // "`field` of `subject` is written as V" ("Label of input 19 is written as
  // 7"). Kept so that a later step that finds the record never written puts
  // the claim right (Disclaim).
  void Claim(EntryRef entry, std::string_view subject, std::string_view field, std::string said);
  // Every claim of `subject` about one of `fields` put right: "`field` of
  // `subject` is not written: `why`". Also kept, and carried by Append to
  // the list this one is appended to: the database phase runs beside the
  // sheets, into a list of its own.
  void Disclaim(std::string subject, std::vector<std::string> fields, std::string why);

  // The most recent failure as ": Error #  6 - Overflow" (Str() gives a
  // non-negative number one leading blank); "" while nothing has failed.
  const std::string& ErrorText() const { return error_text_; }

  // Records each of `later`'s problems and notices after these, in its order.
  void Append(const Problems& later);
  // The same, leaving out those whose place these already name: a second
  // reading of the same cells says nothing new about them.
  void AppendNewPlaces(const Problems& later);

  void Clear();

  // A cell's index that points at `noun` `number` ("location 7"), said as
  // `said()` (the cell, its heading and what its field is written as). Kept
  // until the sheets that define such things are read (CheckReferences):
  // the first cell of a sheet that points at a thing in full, the others
  // that point at it counted, with the last one's place, so that a sheet of
  // many thousand indices holds a record per thing, not per cell.
  void Refer(const Where& where, std::string_view noun, int number, const std::function<std::string()>& said);
  // Notices each reference that `undefined` gives a reason for: it points at
  // something the workbook does not define. nullopt: defined, or a kind of
  // thing the workbook does not list. The references are then let go.
  using Undefined = std::function<std::optional<std::string>(std::string_view noun, int number)>;
  void CheckReferences(const Undefined& undefined);
  // What CheckReferences will find defined, where that is known before it
  // runs (a channel table once the System sheet has sized it): a reference
  // to such a thing is not kept at all. Until CheckReferences.
  using Defined = std::function<bool(std::string_view noun, int number)>;
  void KnownDefined(Defined defined) { known_defined_ = std::move(defined); }

  // Notices from the `from`-th on that say one thing of many sheets (the
  // same tag, the same words but for their numbers and the closing
  // "(8 values: D6, F6:G6)" of their ranges, as a layout repeated on
  // every console sheet gives) are said once: the first stays, naming how
  // many more sheets and which. Only tags that describe a sheet's ranges
  // fold; a notice of one cell keeps its place.
  void FoldAcrossSheets(std::size_t from);

 private:
  std::vector<Problem> list_;
  std::vector<Notice> notices_;
  struct NoticeCount {
    std::size_t count = 0;
    std::size_t summary = 0;  // index of the notice that counts those past the limit
  };
  std::map<std::string, NoticeCount> notices_per_place_;  // by sheet or table
  static std::string GroupOf(const Where& where);
  void CountUnlisted(Where where, NoticeCount& seen);
  // Notes `n` of another list here; a counting notice adds `unlisted` to this place's count.
  void CarryOver(const Notice& n, std::size_t unlisted);
  std::size_t UnlistedAt(const Notice& n) const;
  std::string error_text_;
  std::optional<EntryRef> last_;
  struct Claimed {
    EntryRef entry;
    std::string field, said;
  };
  std::map<std::string, std::vector<Claimed>, std::less<>> claims_;  // by subject
  struct Disclaimed {
    std::string subject;
    std::vector<std::string> fields;
    std::string why;
  };
  std::vector<Disclaimed> disclaimed_;
  struct Reference {  // the cells of one sheet that point at one thing
    Where where;        // the first
    std::string noun;
    int number;
    std::string said;   // of the first
    std::string last;   // the last one's cells
    std::size_t count = 0;
    std::size_t last_seen = 0;  // when the last was referred, among all references
  };
  std::vector<Reference> references_;
  // A reference's sheet and noun by number among the names seen, and the
  // thing it points at: the reference that holds it.
  std::map<std::string, int, std::less<>> reference_names_;
  int ReferenceName(std::string_view name);
  std::unordered_map<std::uint64_t, std::size_t> reference_of_;
  Defined known_defined_;
  std::size_t references_seen_ = 0;
  void PutRight(const Disclaimed& d);
};

}  // namespace kvr

#endif  // KVR_BASE_PROBLEMS_H_
