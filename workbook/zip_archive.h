// Read access to the parts of a zip container, with a cap on how much any
// part may inflate to and on how much all reads of one container may inflate
// together (a zip bomb is refused, not inflated).
#ifndef KVR_WORKBOOK_ZIP_ARCHIVE_H_
#define KVR_WORKBOOK_ZIP_ARCHIVE_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kvr {

class ZipArchive {
 public:
  // All reads of one container together inflate at most this much: several
  // times the largest installation workbook's 100 MB of XML, and few enough
  // seconds of parsing that no small file can keep a command busy for long.
  static constexpr std::size_t kMaxInflatedTotal = std::size_t{1} << 30;

  // Throws WorkbookError when the file is no readable zip container.
  explicit ZipArchive(const std::filesystem::path& path);

  // The same container opened again, for reading on another thread (one
  // archive must not be read by two threads at once). Both count their
  // inflated bytes against the one kMaxInflatedTotal.
  std::unique_ptr<ZipArchive> Reopen() const;
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // True when the container holds a part of that name (case-insensitive, as
  // package part names are).
  bool Has(std::string_view name) const;

  // The whole part; throws WorkbookError when it is missing, corrupt, would
  // inflate to more than `cap` bytes, or past kMaxInflatedTotal for the
  // container.
  std::string Read(std::string_view name, std::size_t cap) const;

  // Hands the inflated part to `sink` in pieces, as it inflates; the same
  // errors as Read.
  void Stream(std::string_view name, std::size_t cap,
              const std::function<void(const char*, std::size_t)>& sink) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kvr

#endif  // KVR_WORKBOOK_ZIP_ARCHIVE_H_
