// Excel 97-2003 binary workbooks (.xls, BIFF8).
//
// The workbook stream is taken out of the OLE2 compound file whole and parsed
// record by record. The globals substream gives the sheet list (BOUNDSHEET8),
// the shared-string table (SST with its CONTINUE records), the number formats
// and cell formats (FORMAT, XF) that tell dates from numbers, and the date
// system (DATEMODE). Each worksheet substream gives its cells: LABELSST,
// LABEL, RSTRING, NUMBER, RK, MULRK, BOOLERR, and FORMULA with its cached
// result (a string result follows in a STRING record). Every read is bounds
// checked; a record that lies about its size ends the read with an error.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "workbook/number_format.h"
#include "workbook/ole2_file.h"
#include "workbook/workbook.h"

namespace kvr {
namespace {

constexpr std::size_t kStreamCap = std::size_t{256} << 20;

enum RecordType : std::uint16_t {
  kFormula = 0x0006,
  kEof = 0x000A,
  kDateMode = 0x0022,
  kFilePass = 0x002F,
  kContinue = 0x003C,
  kCodePage = 0x0042,
  kBoundSheet = 0x0085,
  kMulRk = 0x00BD,
  kRString = 0x00D6,
  kXf = 0x00E0,
  kSst = 0x00FC,
  kLabelSst = 0x00FD,
  kNumber = 0x0203,
  kLabel = 0x0204,
  kBoolErr = 0x0205,
  kString = 0x0207,
  kRk = 0x027E,
  kFormat = 0x041E,
  kBof = 0x0809,
  kRow = 0x0208,
  kColInfo = 0x007D,
};

class BiffError : public WorkbookError {
 public:
  using WorkbookError::WorkbookError;
};

// A record's data together with the data of the CONTINUE records that follow
// it, read as one sequence. Character runs that cross into a CONTINUE record
// start there with a fresh option byte, which ReadCharacters honours.
class RecordReader {
 public:
  explicit RecordReader(std::vector<std::string_view> pieces) : pieces_(std::move(pieces)) {}

  bool AtEnd() {
    while (piece_ < pieces_.size() && pos_ >= pieces_[piece_].size()) { ++piece_; pos_ = 0; }
    return piece_ >= pieces_.size();
  }

  std::uint8_t U8() {
    if (AtEnd()) throw BiffError("record ends early");
    return static_cast<std::uint8_t>(pieces_[piece_][pos_++]);
  }
  std::uint16_t U16() { const std::uint16_t lo = U8(); return static_cast<std::uint16_t>(lo | (U8() << 8)); }
  std::uint32_t U32() { const std::uint32_t lo = U16(); return lo | (static_cast<std::uint32_t>(U16()) << 16); }
  double F64() {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(U8()) << (8 * i);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }
  void Skip(std::size_t n) {
    while (n > 0) {
      if (AtEnd()) throw BiffError("record ends early");
      const std::size_t take = std::min(n, pieces_[piece_].size() - pos_);
      pos_ += take;
      n -= take;
    }
  }

  // An XLUnicodeString (cch_bytes = 2) or ShortXLUnicodeString (cch_bytes = 1).
  std::string UnicodeString(int cch_bytes) {
    const std::size_t cch = cch_bytes == 1 ? U8() : U16();
    const std::uint8_t flags = U8();
    std::size_t runs = 0, ext = 0;
    if (flags & 0x08) runs = U16();
    if (flags & 0x04) ext = U32();
    std::string out = ReadCharacters(cch, (flags & 0x01) != 0);
    Skip(runs * 4);
    Skip(ext);
    return out;
  }

 private:
  std::string ReadCharacters(std::size_t cch, bool wide) {
    std::string out;
    out.reserve(std::min<std::size_t>(cch, 1024));
    char32_t high_surrogate = 0;
    for (std::size_t i = 0; i < cch; ++i) {
      if (piece_ < pieces_.size() && pos_ >= pieces_[piece_].size() && piece_ + 1 < pieces_.size()) {
        ++piece_;
        pos_ = 0;
        wide = (U8() & 0x01) != 0;  // a continued run restates its width
      }
      char32_t unit = wide ? U16() : U8();
      if (high_surrogate != 0) {
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
          AppendUtf8(out, 0x10000 + ((high_surrogate - 0xD800) << 10) + (unit - 0xDC00));
          high_surrogate = 0;
          continue;
        }
        AppendUtf8(out, 0xFFFD);
        high_surrogate = 0;
      }
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        high_surrogate = unit;
        continue;
      }
      AppendUtf8(out, unit);  // a lone low surrogate becomes U+FFFD
    }
    if (high_surrogate != 0) AppendUtf8(out, 0xFFFD);
    return out;
  }

  std::vector<std::string_view> pieces_;
  std::size_t piece_ = 0;
  std::size_t pos_ = 0;
};

struct Record {
  std::uint16_t type = 0;
  std::vector<std::string_view> pieces;  // the record's data, then its CONTINUE records'
};

// Walks the records of the workbook stream from a given offset.
class RecordStream {
 public:
  RecordStream(std::string_view data, std::size_t offset) : data_(data), pos_(offset) {
    if (offset > data.size()) throw BiffError("a sheet starts past the end of the workbook stream");
  }

  bool Next(Record& rec) {
    if (pos_ + 4 > data_.size()) return false;
    rec.pieces.clear();
    rec.type = Header(pos_, rec.pieces);
    while (pos_ + 4 <= data_.size() && Type(pos_) == kContinue) Header(pos_, rec.pieces);
    return true;
  }

 private:
  std::uint16_t Type(std::size_t at) const {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(data_[at]) |
                                      (static_cast<std::uint8_t>(data_[at + 1]) << 8));
  }
  std::uint16_t Header(std::size_t& at, std::vector<std::string_view>& pieces) {
    const std::uint16_t type = Type(at);
    const std::size_t len = Type(at + 2);
    if (at + 4 + len > data_.size()) throw BiffError("the workbook stream is truncated");
    pieces.push_back(data_.substr(at + 4, len));
    at += 4 + len;
    return type;
  }

  std::string_view data_;
  std::size_t pos_;
};

double DecodeRk(std::uint32_t rk) {
  double v;
  if (rk & 0x02) {
    v = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
  } else {
    const std::uint64_t bits = static_cast<std::uint64_t>(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&v, &bits, sizeof v);
  }
  return (rk & 0x01) ? v / 100 : v;
}

const char* ErrorName(std::uint8_t code) {
  switch (code) {
    case 0x00: return "#NULL!";
    case 0x07: return "#DIV/0!";
    case 0x0F: return "#VALUE!";
    case 0x17: return "#REF!";
    case 0x1D: return "#NAME?";
    case 0x24: return "#NUM!";
    case 0x2A: return "#N/A";
    case 0x2B: return "#GETTING_DATA";
    default: return "#VALUE!";
  }
}

struct SheetEntry {
  std::string name;
  std::uint32_t offset;
};

class XlsWorkbook : public Workbook {
 public:
  explicit XlsWorkbook(const std::filesystem::path& path) : file_(Utf8Path(path)) {
    auto stream = ReadOle2Stream(path, "Workbook", kStreamCap);
    if (!stream) {
      const auto names = ListOle2Streams(path);
      auto has = [&](std::string_view n) { return std::find(names.begin(), names.end(), n) != names.end(); };
      if (has("EncryptedPackage") || has("EncryptionInfo")) {
        throw WorkbookError("encrypted workbook: " + file_ + " is protected by a password; save it without one");
      }
      if (has("Book") || has("BOOK")) {
        throw WorkbookError("unsupported workbook: " + file_ +
                            " is in the Excel 5.0/95 format; save it as .xlsx or Excel 97-2003 .xls");
      }
      throw WorkbookError("not a workbook: " + file_ + " is an OLE2 file without a workbook stream");
    }
    data_ = std::move(*stream);
    try {
      ReadGlobals();
    } catch (const BiffError& e) {
      throw WorkbookError("damaged workbook: " + file_ + ": " + e.what());
    }
  }

  const std::vector<std::string>& SheetNames() const override { return names_; }

  // The workbook stream is in memory and only read: sheets can be read on
  // several threads at once.
  bool ConcurrentReads() const override { return true; }

  SheetGrid ReadSheet(std::size_t index) override {
    SheetGridBuilder builder(names_.at(index), date1904_);
    try {
      ReadWorksheet(sheets_[index].offset, builder);
    } catch (const BiffError& e) {
      throw WorkbookError("damaged workbook: " + file_ + ", sheet '" + names_[index] + "': " + e.what());
    }
    return std::move(builder).Build();
  }

 private:
  void ReadGlobals() {
    RecordStream records(data_, 0);
    Record rec;
    if (!records.Next(rec) || rec.type != kBof) throw BiffError("the workbook stream does not start with BOF");
    {
      RecordReader r(rec.pieces);
      if (r.U16() != 0x0600) {
        throw WorkbookError("unsupported workbook: " + file_ + " is not in the Excel 97-2003 (BIFF8) format");
      }
    }
    std::unordered_map<int, bool> format_is_date;
    std::vector<int> xf_format;
    while (records.Next(rec) && rec.type != kEof) {
      RecordReader r(rec.pieces);
      switch (rec.type) {
        case kFilePass:
          throw WorkbookError("encrypted workbook: " + file_ + " is protected by a password; save it without one");
        case kBoundSheet: {
          const std::uint32_t offset = r.U32();
          r.U8();  // visibility
          const std::uint8_t kind = r.U8();
          std::string name = r.UnicodeString(1);
          if (kind == 0) sheets_.push_back(SheetEntry{std::move(name), offset});
          break;
        }
        case kSst: {
          r.U32();  // total references
          const std::uint32_t unique = r.U32();
          for (std::uint32_t i = 0; i < unique && !r.AtEnd(); ++i) shared_.push_back(r.UnicodeString(2));
          break;
        }
        case kFormat: {
          const int id = r.U16();
          format_is_date[id] = IsBiffDateFormatCode(r.UnicodeString(2));
          break;
        }
        case kXf:
          r.U16();  // font
          xf_format.push_back(r.U16());
          break;
        case kDateMode:
          date1904_ = r.U16() == 1;
          break;
        default:
          break;
      }
    }
    for (const int id : xf_format) {
      const auto it = format_is_date.find(id);
      xf_is_date_.push_back(it != format_is_date.end() ? it->second : IsBuiltinDateFormat(id, true));
    }
    for (const auto& s : sheets_) names_.push_back(s.name);
  }

  bool IsDate(std::uint16_t xf) const { return xf < xf_is_date_.size() && xf_is_date_[xf]; }

  void AddNumber(SheetGridBuilder& b, int row, int col, std::uint16_t xf, double v) const {
    if (IsDate(xf)) b.AddDate(row, col, v);
    else b.AddNumber(row, col, v);
  }

  // MULRK: several RK numbers of one row.
  void ReadMulRk(const Record& rec, RecordReader& r, SheetGridBuilder& b) const {
    std::size_t size = 0;
    for (auto p : rec.pieces) size += p.size();
    const int row = r.U16() + 1, first = r.U16() + 1;
    const std::size_t count = size >= 6 ? (size - 6) / 6 : 0;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint16_t xf = r.U16();
      AddNumber(b, row, first + static_cast<int>(i), xf, DecodeRk(r.U32()));
    }
  }

  // FORMULA: its cached value; a text result follows in a STRING record, so
  // its cell is left pending (row and column) for that record.
  void ReadFormula(RecordReader& r, SheetGridBuilder& b, int& pending_row, int& pending_col) const {
    const int row = r.U16() + 1, col = r.U16() + 1;
    const std::uint16_t xf = r.U16();
    std::uint8_t v[8];
    for (auto& x : v) x = r.U8();
    pending_row = -1;
    if (v[6] != 0xFF || v[7] != 0xFF) {
      double d;
      std::memcpy(&d, v, sizeof d);
      AddNumber(b, row, col, xf, d);
    } else if (v[0] == 0) {
      pending_row = row;
      pending_col = col;
    } else if (v[0] == 1) {
      b.AddBoolean(row, col, v[2] != 0);
    } else if (v[0] == 2) {
      b.AddError(row, col, ErrorName(v[2]));
    }  // 3: empty text, which counts as no value
  }

  // What reading one sheet's cell records carries from one record to the next.
  struct CellState {
    std::vector<std::uint32_t> shared_ids;  // shared string -> the grid's interned text, once used
    int pending_row = -1, pending_col = -1;  // a FORMULA whose string result follows
  };

  void ReadWorksheet(std::uint32_t offset, SheetGridBuilder& b) const {
    RecordStream records(data_, offset);
    Record rec;
    if (!records.Next(rec) || rec.type != kBof) throw BiffError("the sheet does not start with BOF");
    CellState state;
    state.shared_ids.assign(shared_.size(), UINT32_MAX);
    int depth = 1;  // embedded substreams (charts) nest BOF..EOF
    while (depth > 0 && records.Next(rec)) {
      if (rec.type == kBof) ++depth;
      else if (rec.type == kEof) --depth;
      else if (depth == 1) ReadCellRecord(rec, b, state);
    }
  }

  // One record of a sheet's own stream: a cell's value, or nothing to read.
  void ReadCellRecord(const Record& rec, SheetGridBuilder& b, CellState& state) const {
    RecordReader r(rec.pieces);
    switch (rec.type) {
      case kRow: {
        // rw, colMic, colMac, miyRw, two reserved words, then the flags:
        // fDyZero (0x20) hides the row.
        const int row = r.U16() + 1;
        for (int i = 0; i < 5; ++i) r.U16();
        if ((r.U16() & 0x20) != 0) b.HideRows(row, row);
        break;
      }
      case kColInfo: {
        // colFirst, colLast, coldx, ixfe, then the flags: fHidden (0x01).
        const int first = r.U16() + 1, last = r.U16() + 1;
        r.U16();
        r.U16();
        if ((r.U16() & 0x01) != 0 && last >= first) b.HideColumns(first, std::min(last, 256));
        break;
      }
      case kLabelSst: {
        const int row = r.U16() + 1, col = r.U16() + 1;
        r.U16();
        const std::uint32_t isst = r.U32();
        if (isst >= shared_.size()) throw BiffError("a cell refers to a shared string that does not exist");
        if (state.shared_ids[isst] == UINT32_MAX) state.shared_ids[isst] = b.InternText(shared_[isst]);
        b.AddText(row, col, state.shared_ids[isst]);
        break;
      }
      case kLabel:
      case kRString: {
        const int row = r.U16() + 1, col = r.U16() + 1;
        r.U16();
        b.AddText(row, col, b.InternText(r.UnicodeString(2)));
        break;
      }
      case kNumber: {
        const int row = r.U16() + 1, col = r.U16() + 1;
        const std::uint16_t xf = r.U16();
        AddNumber(b, row, col, xf, r.F64());
        break;
      }
      case kRk: {
        const int row = r.U16() + 1, col = r.U16() + 1;
        const std::uint16_t xf = r.U16();
        AddNumber(b, row, col, xf, DecodeRk(r.U32()));
        break;
      }
      case kMulRk:
        ReadMulRk(rec, r, b);
        break;
      case kBoolErr: {
        const int row = r.U16() + 1, col = r.U16() + 1;
        r.U16();
        const std::uint8_t value = r.U8();
        if (r.U8() != 0) b.AddError(row, col, ErrorName(value));
        else b.AddBoolean(row, col, value != 0);
        break;
      }
      case kFormula:
        ReadFormula(r, b, state.pending_row, state.pending_col);
        break;
      case kString:
        if (state.pending_row > 0) b.AddText(state.pending_row, state.pending_col, b.InternText(r.UnicodeString(2)));
        state.pending_row = -1;
        break;
      default:
        break;
    }
  }

  std::string file_;
  std::string data_;
  bool date1904_ = false;
  std::vector<SheetEntry> sheets_;
  std::vector<std::string> names_;
  std::vector<std::string> shared_;
  std::vector<bool> xf_is_date_;
};

}  // namespace

std::unique_ptr<Workbook> OpenXlsWorkbook(const std::filesystem::path& path) {
  return std::make_unique<XlsWorkbook>(path);
}

}  // namespace kvr
