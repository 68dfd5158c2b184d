#include "base/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace kvr {
namespace {

std::string TempName(const std::filesystem::path& target) {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(rng()));
  return "." + target.filename().string() + suffix;
}

}  // namespace

std::optional<std::string> WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes) {
  const std::filesystem::path temp = target.parent_path() / TempName(target);
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return "cannot create a file in " + target.parent_path().string() + ": " + std::strerror(errno);
  std::string error;
  std::size_t done = 0;
  while (done < bytes.size() && error.empty()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno != EINTR) error = std::string("cannot write: ") + std::strerror(errno);
    } else {
      done += static_cast<std::size_t>(n);
    }
  }
  if (error.empty() && ::fsync(fd) != 0) error = std::string("cannot flush to disk: ") + std::strerror(errno);
  if (::close(fd) != 0 && error.empty()) error = std::string("cannot close: ") + std::strerror(errno);
  if (error.empty() && std::rename(temp.c_str(), target.c_str()) != 0) {
    error = std::string("cannot replace the file: ") + std::strerror(errno);
  }
  if (!error.empty()) {
    ::unlink(temp.c_str());
    return error;
  }
  return std::nullopt;
}

std::optional<std::string> UnsafeFileNameReason(std::string_view name) {
  if (name.find("..") != std::string_view::npos) return "it holds \"..\"";
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\') return "it holds a path separator";
    if (u < 0x20 || u == 0x7F) return "it holds a control character";
    if (std::strchr("<>:\"|?*", c) != nullptr) return std::string("it holds \"") + c + "\", which file names cannot hold";
  }
  return std::nullopt;
}

bool RegularFileExists(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

}  // namespace kvr

#include "base/overwrite_question.h"

namespace kvr {

std::string OverwriteQuestionText(const std::string& path) {
  return path + " exists.\r\rDo you wish to overwrite?";
}

}  // namespace kvr
