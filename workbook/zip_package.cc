#include "workbook/zip_package.h"

#include <zip.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/utf8.h"

namespace kvr {

struct ZipPackage::Part {
  Part(std::string name, std::string bytes, Maker maker, bool stored)
      : name(std::move(name)), bytes(std::move(bytes)), maker(std::move(maker)), stored(stored) {
    zip_error_init(&error);
  }
  ~Part() { zip_error_fini(&error); }
  Part(const Part&) = delete;
  Part& operator=(const Part&) = delete;

  std::string name;
  std::string bytes;  // the whole part, or the bytes made and not yet taken
  Maker maker;        // set for a part made as it is compressed
  bool stored = false;

  // The maker's state as libzip reads the part.
  std::size_t at = 0;
  bool more = true;
  zip_error_t error{};

  // A libzip source over a made part: asks the maker for more whenever
  // what it made is taken.
  static zip_int64_t Read(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto* self = static_cast<Part*>(state);
    switch (command) {
      case ZIP_SOURCE_OPEN:
      case ZIP_SOURCE_CLOSE:
      case ZIP_SOURCE_FREE:
        return 0;
      case ZIP_SOURCE_READ: {
        while (self->at == self->bytes.size() && self->more) {
          self->bytes.clear();
          self->at = 0;
          self->more = self->maker(self->bytes);
        }
        const std::size_t n = std::min<std::size_t>(length, self->bytes.size() - self->at);
        std::memcpy(data, self->bytes.data() + self->at, n);
        self->at += n;
        return static_cast<zip_int64_t>(n);
      }
      case ZIP_SOURCE_STAT: {
        // Its size is known only once it is made.
        zip_stat_init(static_cast<zip_stat_t*>(data));
        return 0;
      }
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&self->error, data, length);
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
      default:
        zip_error_set(&self->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }
};

void ZipPackage::AddStored(std::string name, std::string bytes) {
  parts_.push_back(std::make_shared<Part>(std::move(name), std::move(bytes), nullptr, true));
}

void ZipPackage::Add(std::string name, std::string bytes) {
  parts_.push_back(std::make_shared<Part>(std::move(name), std::move(bytes), nullptr, false));
}

void ZipPackage::AddMade(std::string name, Maker maker) {
  parts_.push_back(std::make_shared<Part>(std::move(name), std::string(), std::move(maker), false));
}

Status ZipPackage::Write(const std::filesystem::path& path, std::time_t created) {
  const std::string file = Utf8Path(path);
  int error = 0;
  zip_t* archive = zip_open(file.c_str(), ZIP_CREATE | ZIP_EXCL, &error);
  if (archive == nullptr) {
    zip_error_t e;
    zip_error_init_with_code(&e, error);
    const std::string why = zip_error_strerror(&e);
    zip_error_fini(&e);
    return Status::Error("cannot create " + file + ": " + why);
  }
  auto fail = [&](const std::string& why) {
    zip_discard(archive);
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return Status::Error("cannot write " + file + ": " + why);
  };
  for (const auto& part : parts_) {
    zip_source_t* source = part->maker ? zip_source_function(archive, &Part::Read, part.get())
                                       : zip_source_buffer(archive, part->bytes.data(), part->bytes.size(), 0);
    if (source == nullptr) return fail(zip_strerror(archive));
    const zip_int64_t index = zip_file_add(archive, part->name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(source);
      return fail(zip_strerror(archive));
    }
    const auto i = static_cast<zip_uint64_t>(index);
    if (zip_set_file_compression(archive, i, part->stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                 part->stored ? 0 : kLevel) != 0 ||
        zip_file_set_mtime(archive, i, created, 0) != 0) {
      return fail(zip_strerror(archive));
    }
  }
  if (zip_close(archive) != 0) return fail(zip_strerror(archive));
  return Status::Ok();
}

}  // namespace kvr
