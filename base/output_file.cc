#include "base/output_file.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <utility>

#include "base/file_platform.h"
#include "base/utf8.h"

namespace kvr {
namespace {

constexpr std::size_t kMaxFileNameBytes = 255;
constexpr std::string_view kTempSuffix = ".tmp";
constexpr std::size_t kTagDigits = 16;

unsigned long long RandomTag() {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  return rng();
}

// The part of the target's name that its temporary names carry.
std::string TempStem(const std::filesystem::path& target) {
  const std::string name = Utf8Path(target.filename());
  const std::size_t room = kMaxFileNameBytes - 1 - 1 - kTagDigits - kTempSuffix.size();
  if (name.size() <= room) return name;
  std::size_t cut = room;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;  // a character boundary
  return name.substr(0, cut);
}

// True for "." + stem + "." + 16 lower-case hex digits + ".tmp".
bool IsTempNameOf(std::string_view name, std::string_view stem) {
  const std::size_t expected = 1 + stem.size() + 1 + kTagDigits + kTempSuffix.size();
  if (name.size() != expected || name[0] != '.' || name.substr(1, stem.size()) != stem ||
      name[1 + stem.size()] != '.' || name.substr(name.size() - kTempSuffix.size()) != kTempSuffix) {
    return false;
  }
  for (const char c : name.substr(2 + stem.size(), kTagDigits)) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// The folder a target lies in; "." for a bare file name.
std::filesystem::path FolderOf(const std::filesystem::path& target) {
  const std::filesystem::path folder = target.parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

}  // namespace

void RemoveTemporariesOf(const std::filesystem::path& target) {
  platform::RemoveMatching(FolderOf(target), &IsTempNameOf, TempStem(target));
}

std::string TemporaryFileName(const std::filesystem::path& target, unsigned long long tag) {
  char hex[kTagDigits + 1];
  std::snprintf(hex, sizeof hex, "%016llx", tag);
  return "." + TempStem(target) + "." + hex + std::string(kTempSuffix);
}

OutputBatch::~OutputBatch() {
  for (Staged& s : staged_) platform::Discard(s.file);
}

Status OutputBatch::Stage(const std::filesystem::path& target, std::string_view bytes, std::string what) {
  const std::filesystem::path folder = FolderOf(target);
  RemoveTemporariesOf(target);
  platform::TempFile file;
  if (Status s = platform::CreateTemp(folder, TemporaryFileName(target, RandomTag()), file); !s.ok()) return s;
  if (Status s = platform::WriteAll(file, bytes); !s.ok()) {
    platform::Discard(file);
    return s;
  }
  staged_.push_back(Staged{target, std::move(what), std::move(file)});
  return Status::Ok();
}

Status OutputBatch::Adopt(const std::filesystem::path& target, const std::filesystem::path& named, std::string what) {
  platform::TempFile file;
  if (Status s = platform::OpenNamed(named, file); !s.ok()) {
    std::error_code ec;
    std::filesystem::remove(named, ec);
    return s;
  }
  staged_.push_back(Staged{target, std::move(what), std::move(file)});
  return Status::Ok();
}

Status OutputBatch::MatchPermissions(const std::filesystem::path& like) {
  if (staged_.empty() || staged_.back().file.handle == -1) return Status::Error("nothing staged");
  return platform::CopyPermissions(staged_.back().file, like);
}

void OutputBatch::Drop(std::size_t index) {
  if (index < staged_.size()) platform::Discard(staged_[index].file);
}

std::vector<OutputBatch::Failure> OutputBatch::Commit() {
  std::vector<Failure> failures;
  std::vector<platform::TempFile> files;
  std::vector<Staged> staged;
  for (Staged& s : staged_) {
    if (s.file.handle == -1) continue;  // dropped
    files.push_back(std::exchange(s.file, {}));
    staged.push_back(std::move(s));
  }
  staged_.clear();
  std::vector<const platform::TempFile*> all;
  for (const auto& f : files) all.push_back(&f);
  if (const Status s = platform::FlushAll(all); !s.ok()) {
    // Nothing is put in place that might not survive a power cut.
    for (std::size_t i = 0; i < files.size(); ++i) {
      platform::Discard(files[i]);
      failures.push_back({staged[i].target, staged[i].what, s.why()});
    }
    return failures;
  }
  std::set<std::filesystem::path> folders;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::filesystem::path folder = FolderOf(staged[i].target);
    // A device, FIFO or folder standing at the name is never replaced by a
    // file: whatever reads or writes there goes on doing so.
    if (const Occupant there = OccupantOf(staged[i].target); there.kind == Occupant::kNotAFile) {
      platform::Discard(files[i]);
      failures.push_back({staged[i].target, staged[i].what, "it " + there.why + ", and is never replaced"});
      continue;
    }
    if (const Status s = platform::PutInPlace(files[i], folder, TemporaryFileName(staged[i].target, RandomTag()),
                                              staged[i].target);
        !s.ok()) {
      failures.push_back({staged[i].target, staged[i].what, s.why()});
      continue;
    }
    folders.insert(folder);
  }
  for (const auto& folder : folders) {
    if (const Status flushed = platform::FlushFolder(folder); !flushed.ok()) {
      for (const Staged& s : staged) {
        if (FolderOf(s.target) == folder) failures.push_back({s.target, s.what, flushed.why()});
      }
    }
  }
  return failures;
}

Status WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes) {
  OutputBatch batch;
  if (Status s = batch.Stage(target, bytes); !s.ok()) return s;
  const auto failures = batch.Commit();
  if (!failures.empty()) return Status::Error(failures.front().why);
  return Status::Ok();
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices on Windows, with or
// without an extension and in any case.
bool IsReservedDeviceName(std::string_view name) {
  std::string stem(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (auto& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '1' &&
         stem[3] <= '9';
}

Status CheckFileNameComponent(std::string_view name) {
  if (name.find("..") != std::string_view::npos) return Status::Error("it holds \"..\"");
  if (IsReservedDeviceName(name)) return Status::Error("\"" + std::string(name) + "\" names a device on Windows");
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\') return Status::Error("it holds a path separator");
    if (u < 0x20 || u == 0x7F) return Status::Error("it holds a control character");
    if (std::strchr("<>:\"|?*", c) != nullptr) {
      return Status::Error(std::string("it holds \"") + c + "\", which file names cannot hold");
    }
  }
  return Status::Ok();
}

bool RegularFileExists(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

Occupant OccupantOf(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status link = fs::symlink_status(path, ec);
  if (!fs::exists(link)) return {};
  const fs::file_status target = fs::status(path, ec);
  if (fs::is_symlink(link) && !fs::exists(target)) return {Occupant::kFile, ""};  // points nowhere
  if (fs::is_regular_file(target)) return {Occupant::kFile, ""};
  if (fs::is_directory(target)) return {Occupant::kNotAFile, "is a folder, not a file"};
  if (fs::is_fifo(target)) return {Occupant::kNotAFile, "is a FIFO, not a regular file"};
  if (fs::is_character_file(target) || fs::is_block_file(target)) {
    return {Occupant::kNotAFile, "is a device, not a regular file"};
  }
  return {Occupant::kNotAFile, "is not a regular file"};
}

std::optional<UnreadableFile> UnreadableFileReason(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !ec) return UnreadableFile{true, "does not exist"};
  if (auto why = platform::UnreadableFileReason(path)) return UnreadableFile{false, std::move(*why)};
  return std::nullopt;
}

Result<std::string> ReadWholeFile(const std::filesystem::path& path, std::uintmax_t max_bytes, std::string_view what) {
  if (const auto why = UnreadableFileReason(path)) return Status::Error("it " + why->why);
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) return Status::Error("its size cannot be read: " + ec.message());
  if (size > max_bytes) {
    return Status::Error("a " + std::string(what) + " holds at most " + std::to_string(max_bytes) +
                         " bytes; this one has " + std::to_string(size));
  }
  std::ifstream in(path, std::ios::binary);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (!in || !in.read(bytes.data(), static_cast<std::streamsize>(size)) || in.peek() != EOF) {
    return Status::Error("it cannot be read whole");
  }
  return bytes;
}

}  // namespace kvr
