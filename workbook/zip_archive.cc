#include "workbook/zip_archive.h"

#include <zip.h>

#include <atomic>
#include <vector>

#include "base/utf8.h"
#include "workbook/workbook_error.h"

namespace kvr {

struct ZipArchive::Impl {
  zip_t* zip = nullptr;
  std::filesystem::path path;
  std::string file;
  // Inflated by all reads so far, shared with the reopened copies.
  std::shared_ptr<std::atomic<std::size_t>> inflated = std::make_shared<std::atomic<std::size_t>>(0);

  std::optional<zip_uint64_t> Locate(std::string_view name) const {
    std::string n(name);
    while (!n.empty() && n.front() == '/') n.erase(n.begin());
    const zip_int64_t i = zip_name_locate(zip, n.c_str(), ZIP_FL_NOCASE);
    if (i < 0) return std::nullopt;
    return static_cast<zip_uint64_t>(i);
  }
};

ZipArchive::ZipArchive(const std::filesystem::path& path) : impl_(std::make_unique<Impl>()) {
  impl_->path = path;
  impl_->file = Utf8Path(path);
  int err = 0;
  impl_->zip = zip_open(impl_->file.c_str(), ZIP_RDONLY, &err);
  if (impl_->zip == nullptr) {
    zip_error_t ze;
    zip_error_init_with_code(&ze, err);
    std::string why = zip_error_strerror(&ze);
    zip_error_fini(&ze);
    throw WorkbookError("not a workbook: " + impl_->file + " is a damaged zip container (" + why + ")");
  }
}

std::unique_ptr<ZipArchive> ZipArchive::Reopen() const {
  auto copy = std::make_unique<ZipArchive>(impl_->path);
  copy->impl_->inflated = impl_->inflated;
  return copy;
}

ZipArchive::~ZipArchive() {
  if (impl_->zip != nullptr) zip_discard(impl_->zip);
}

bool ZipArchive::Has(std::string_view name) const { return impl_->Locate(name).has_value(); }

std::string ZipArchive::Read(std::string_view name, std::size_t cap) const {
  std::string out;
  Stream(name, cap, [&](const char* p, std::size_t n) { out.append(p, n); });
  return out;
}

void ZipArchive::Stream(std::string_view name, std::size_t cap,
                        const std::function<void(const char*, std::size_t)>& sink) const {
  const auto index = impl_->Locate(name);
  const std::string where = impl_->file + ", part " + std::string(name);
  if (!index) throw WorkbookError("the workbook lacks a part it needs: " + where);
  zip_stat_t st;
  if (zip_stat_index(impl_->zip, *index, 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE) && st.size > cap) {
    throw WorkbookLimitError("part too large: " + where + " would inflate to " + std::to_string(st.size) +
                        " bytes, more than the " + std::to_string(cap) + " allowed");
  }
  zip_file_t* f = zip_fopen_index(impl_->zip, *index, 0);
  if (f == nullptr) {
    throw WorkbookError("cannot read " + where + ": " + zip_strerror(impl_->zip));
  }
  std::vector<char> buf(1 << 16);
  std::size_t total = 0;
  try {
    for (;;) {
      const zip_int64_t n = zip_fread(f, buf.data(), buf.size());
      if (n < 0) {
        throw WorkbookError("damaged workbook: cannot inflate " + where + ": " + zip_file_strerror(f));
      }
      if (n == 0) break;
      total += static_cast<std::size_t>(n);
      // The size in the zip directory may lie; the inflated byte count does not.
      if (total > cap) {
        throw WorkbookLimitError("part too large: " + where + " inflates to more than " +
                            std::to_string(cap) + " bytes");
      }
      if (impl_->inflated->fetch_add(static_cast<std::size_t>(n)) + static_cast<std::size_t>(n) > kMaxInflatedTotal) {
        throw WorkbookLimitError("workbook too large: " + impl_->file + " inflates to more than " +
                            std::to_string(kMaxInflatedTotal) + " bytes in all (at part " + std::string(name) + ")");
      }
      sink(buf.data(), static_cast<std::size_t>(n));
    }
  } catch (...) {
    zip_fclose(f);
    throw;
  }
  zip_fclose(f);
}

}  // namespace kvr
