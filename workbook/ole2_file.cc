// A small, bounds-checked reader of OLE2 compound files (the container of
// .xls workbooks): header, sector allocation table with its extension
// (DIFAT), directory, mini stream. Every sector number, chain and size is
// checked against the file before it is followed, so a damaged or hostile
// file ends in a WorkbookError, never in a wild read or an endless loop.
#include "workbook/ole2_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

#include "base/utf8.h"
#include "workbook/workbook_error.h"

namespace kvr {
namespace {

constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::size_t kMaxFileBytes = std::size_t{512} << 20;

std::uint32_t U32(const std::string& d, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, d.data() + at, 4);
  return v;  // the format and this machine are little-endian
}
std::uint16_t U16(const std::string& d, std::size_t at) {
  std::uint16_t v;
  std::memcpy(&v, d.data() + at, 2);
  return v;
}

struct Entry {
  std::string name;
  std::uint8_t type = 0;  // 1 storage, 2 stream, 5 root
  std::uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
  std::uint32_t start = 0;
  std::uint64_t size = 0;
};

class CompoundFile {
 public:
  explicit CompoundFile(const std::filesystem::path& path) : file_(Utf8Path(path)) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw WorkbookError("cannot open " + file_ + ": " + std::strerror(errno));
    in.seekg(0, std::ios::end);
    const auto size = static_cast<std::size_t>(in.tellg());
    if (size > kMaxFileBytes) Fail("the file is larger than 512 MB");
    in.seekg(0);
    data_.resize(size);
    in.read(data_.data(), static_cast<std::streamsize>(size));
    if (data_.size() < 512) Fail("it is shorter than its 512-byte header");
    const std::uint16_t shift = U16(data_, 0x1E);
    if (U16(data_, 0x1C) != 0xFFFE || (shift != 9 && shift != 12) || U16(data_, 0x20) != 6) {
      Fail("its header is not that of a compound file");
    }
    sector_size_ = std::size_t{1} << shift;
    sectors_ = data_.size() > sector_size_ ? (data_.size() - sector_size_ + sector_size_ - 1) / sector_size_ : 0;
    // A truncated last sector reads as if padded with zeros, so every sector
    // that exists is whole.
    data_.resize(sector_size_ * (sectors_ + 1), '\0');
    mini_cutoff_ = U32(data_, 0x38);
    ReadFat();
    ReadDirectory();
    if (!entries_.empty()) mini_stream_ = Chain(entries_[0].start, entries_[0].size, fat_, false);
    mini_fat_ = ToTable(Chain(U32(data_, 0x3C), UINT64_MAX, fat_, false));
  }

  // The top-level streams: the children of the root storage.
  std::vector<const Entry*> TopLevel() const {
    std::vector<const Entry*> out;
    if (entries_.empty()) return out;
    std::vector<std::uint32_t> stack{entries_[0].child};
    std::vector<bool> seen(entries_.size(), false);
    while (!stack.empty()) {
      const std::uint32_t id = stack.back();
      stack.pop_back();
      if (id == kNoStream) continue;
      if (id >= entries_.size() || seen[id]) Fail("its directory tree is damaged");
      seen[id] = true;
      out.push_back(&entries_[id]);
      stack.push_back(entries_[id].left);
      stack.push_back(entries_[id].right);
    }
    return out;
  }

  std::string Read(const Entry& e) const {
    if (e.size < mini_cutoff_) return Chain(e.start, e.size, mini_fat_, true);
    return Chain(e.start, e.size, fat_, false);
  }

 private:
  [[noreturn]] void Fail(const std::string& why) const {
    throw WorkbookError("not a workbook: " + file_ + " is a damaged OLE2 compound file (" + why + ")");
  }

  std::vector<std::uint32_t> ToTable(const std::string& bytes) const {
    std::vector<std::uint32_t> t(bytes.size() / 4);
    for (std::size_t i = 0; i < t.size(); ++i) t[i] = U32(bytes, 4 * i);
    return t;
  }

  const char* Sector(std::uint32_t n) const {
    if (n >= sectors_) Fail("a sector lies past the end of the file");
    return data_.data() + (static_cast<std::size_t>(n) + 1) * sector_size_;
  }

  void ReadFat() {
    std::vector<std::uint32_t> fat_sectors;
    const std::uint32_t count = U32(data_, 0x2C);
    if (count > sectors_) Fail("it claims more allocation sectors than it has");
    for (std::size_t i = 0; i < 109 && fat_sectors.size() < count; ++i) fat_sectors.push_back(U32(data_, 0x4C + 4 * i));
    std::uint32_t difat = U32(data_, 0x44);
    for (std::size_t guard = 0; fat_sectors.size() < count; ++guard) {
      if (difat == kEndOfChain || difat == kFreeSector || guard > sectors_) Fail("its allocation table is incomplete");
      const char* s = Sector(difat);
      const std::size_t per = sector_size_ / 4 - 1;
      for (std::size_t i = 0; i < per && fat_sectors.size() < count; ++i) {
        std::uint32_t v;
        std::memcpy(&v, s + 4 * i, 4);
        fat_sectors.push_back(v);
      }
      std::memcpy(&difat, s + 4 * per, 4);
    }
    fat_.reserve(fat_sectors.size() * sector_size_ / 4);
    for (const std::uint32_t n : fat_sectors) {
      const char* s = Sector(n);
      for (std::size_t i = 0; i < sector_size_; i += 4) {
        std::uint32_t v;
        std::memcpy(&v, s + i, 4);
        fat_.push_back(v);
      }
    }
  }

  // The bytes of a chain starting at `start`, cut to `size`. In the mini
  // stream sectors are 64 bytes.
  std::string Chain(std::uint32_t start, std::uint64_t size, const std::vector<std::uint32_t>& table, bool mini) const {
    std::string out;
    const std::size_t unit = mini ? 64 : sector_size_;
    const std::size_t limit = mini ? mini_stream_.size() / 64 : sectors_;
    if (size != UINT64_MAX && size > data_.size() && !mini) Fail("a stream is larger than the file");
    std::size_t steps = 0;
    if (start == kFreeSector) start = kEndOfChain;  // some writers mark "no chain" so
    for (std::uint32_t n = start; n != kEndOfChain && out.size() < size; n = table[n]) {
      if (n >= table.size() || n >= limit || ++steps > limit) Fail("a sector chain is broken");
      if (mini) out.append(mini_stream_, static_cast<std::size_t>(n) * unit, unit);
      else out.append(Sector(n), sector_size_);
    }
    if (size != UINT64_MAX) {
      if (out.size() < size) Fail("a stream is shorter than its size");
      out.resize(static_cast<std::size_t>(size));
    }
    return out;
  }

  void ReadDirectory() {
    const std::string dir = Chain(U32(data_, 0x30), UINT64_MAX, fat_, false);
    const bool v3 = sector_size_ == 512;
    for (std::size_t at = 0; at + 128 <= dir.size(); at += 128) {
      Entry e;
      const std::size_t name_bytes = std::min<std::size_t>(U16(dir, at + 0x40), 64);
      for (std::size_t i = 0; i + 2 <= name_bytes; i += 2) {
        const char32_t unit = U16(dir, at + i);
        if (unit == 0) break;
        AppendUtf8(e.name, unit);
      }
      e.type = static_cast<std::uint8_t>(dir[at + 0x42]);
      e.left = U32(dir, at + 0x44);
      e.right = U32(dir, at + 0x48);
      e.child = U32(dir, at + 0x4C);
      e.start = U32(dir, at + 0x74);
      e.size = v3 ? U32(dir, at + 0x78) : (static_cast<std::uint64_t>(U32(dir, at + 0x7C)) << 32 | U32(dir, at + 0x78));
      entries_.push_back(std::move(e));
    }
    if (entries_.empty() || entries_[0].type != 5) Fail("it has no root directory entry");
  }

  std::string file_;
  std::string data_;
  std::size_t sector_size_ = 512;
  std::size_t sectors_ = 0;
  std::uint32_t mini_cutoff_ = 4096;
  std::vector<std::uint32_t> fat_;
  std::vector<std::uint32_t> mini_fat_;
  std::string mini_stream_;
  std::vector<Entry> entries_;
};

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::vector<std::string> ListOle2Streams(const std::filesystem::path& path) {
  CompoundFile cf(path);
  std::vector<std::string> names;
  for (const Entry* e : cf.TopLevel()) names.push_back(e->name);
  return names;
}

std::optional<std::string> ReadOle2Stream(const std::filesystem::path& path, std::string_view name,
                                          std::size_t cap) {
  CompoundFile cf(path);
  for (const Entry* e : cf.TopLevel()) {
    if (e->type != 2 || !SameName(e->name, name)) continue;
    if (e->size > cap) {
      throw WorkbookLimitError("part too large: " + Utf8Path(path) + ", stream " + std::string(name) + " holds " +
                          std::to_string(e->size) + " bytes, more than the " + std::to_string(cap) + " allowed");
    }
    return cf.Read(*e);
  }
  return std::nullopt;
}

}  // namespace kvr
