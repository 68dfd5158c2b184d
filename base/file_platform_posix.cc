// POSIX (Linux) file calls: unnamed temporary files through O_TMPFILE, linked
// into the folder only when complete; one syncfs for a batch of files.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/file_platform.h"

namespace kvr::platform {
namespace {

std::string Why(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

int Fd(const TempFile& f) { return static_cast<int>(f.handle); }

void Close(TempFile& f) {
  if (f.handle >= 0) ::close(Fd(f));
  f.handle = -1;
}

}  // namespace

Status CreateTemp(const std::filesystem::path& folder, const std::string& fallback_name,
                                      TempFile& out) {
  out = TempFile{};
#ifdef O_TMPFILE
  // 0666 as any new file: the umask decides what others may do with it.
  int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd >= 0) {
    out.handle = fd;
    return Status::Ok();
  }
  // File systems without unnamed files say so with one of these.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    return Status::Error(Why(("cannot create a file in " + folder.string()).c_str()));
  }
#endif
  const std::filesystem::path named = folder / fallback_name;
  const int nfd = ::open(named.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (nfd < 0) return Status::Error(Why(("cannot create a file in " + folder.string()).c_str()));
  out.handle = nfd;
  out.named = named;
  return Status::Ok();
}

Status OpenNamed(const std::filesystem::path& named, TempFile& out) {
  out = TempFile{};
  const int fd = ::open(named.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return Status::Error(Why("cannot open the copy"));
  out.handle = fd;
  out.named = named;
  return Status::Ok();
}

Status WriteAll(const TempFile& file, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(Fd(file), bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::Error(Why("cannot write"));
    }
    done += static_cast<std::size_t>(n);
  }
  return Status::Ok();
}

Status FlushAll(const std::vector<const TempFile*>& files) {
  if (files.empty()) return Status::Ok();
  // One syncfs writes back every file of the file system together; where it
  // fails (or the files lie on several file systems) each is flushed alone.
  struct stat first{};
  bool one_fs = ::fstat(Fd(*files[0]), &first) == 0;
  for (const TempFile* f : files) {
    struct stat st{};
    if (::fstat(Fd(*f), &st) != 0 || st.st_dev != first.st_dev) one_fs = false;
  }
  if (one_fs && ::syncfs(Fd(*files[0])) == 0) return Status::Ok();
  for (const TempFile* f : files) {
    if (::fsync(Fd(*f)) != 0) return Status::Error(Why("cannot flush to disk"));
  }
  return Status::Ok();
}

Status PutInPlace(TempFile& file, const std::filesystem::path& folder,
                                      const std::string& link_name, const std::filesystem::path& target) {
  if (file.named.empty()) {
    const std::string proc = "/proc/self/fd/" + std::to_string(Fd(file));
    auto link = [&](const std::filesystem::path& name) {
      return ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
             ::linkat(Fd(file), "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0;
    };
    // A new target is linked in place directly: the name appears with the
    // whole file behind it. An existing one is replaced by a rename.
    if (link(target)) {
      Close(file);
      return Status::Ok();
    }
    const std::filesystem::path named = folder / link_name;
    if (!link(named)) {
      const std::string why = Why("cannot name the file");
      Close(file);
      return Status::Error(why);
    }
    file.named = named;
  }
  Close(file);
  if (std::rename(file.named.c_str(), target.c_str()) != 0) {
    const std::string why = Why("cannot replace the file");
    ::unlink(file.named.c_str());
    file.named.clear();
    return Status::Error(why);
  }
  file.named.clear();
  return Status::Ok();
}

void Discard(TempFile& file) {
  Close(file);
  if (!file.named.empty()) ::unlink(file.named.c_str());
  file.named.clear();
}

Status FlushFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Status::Error(Why("cannot open the folder to flush it"));
  const int rc = ::fsync(fd);
  const std::string why = rc != 0 ? Why("cannot flush the folder") : "";
  ::close(fd);
  if (rc != 0) return Status::Error(why);
  return Status::Ok();
}

void RemoveMatching(const std::filesystem::path& folder, bool (*ours)(std::string_view, std::string_view),
                    std::string_view stem) {
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* e = ::readdir(dir)) {
    if (!ours(e->d_name, stem)) continue;
    // Only regular files: a folder or link of that name is not ours.
    struct stat st{};
    if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
      ::unlinkat(::dirfd(dir), e->d_name, 0);
    }
  }
  ::closedir(dir);
}

std::optional<std::string> UnreadableFileReason(const std::filesystem::path& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return "does not exist";
    return std::string("cannot be read: ") + std::strerror(errno);
  }
  if (S_ISDIR(st.st_mode)) return "is a folder, not a file";
  if (S_ISFIFO(st.st_mode)) return "is a FIFO, not a regular file";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "is a device, not a regular file";
  if (S_ISSOCK(st.st_mode)) return "is a socket, not a regular file";
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::string("cannot be read: ") + std::strerror(errno);
  ::close(fd);
  return std::nullopt;
}

PathKind KindOf(const std::filesystem::path& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR ? PathKind::kMissing : PathKind::kOther;
  if (S_ISREG(st.st_mode)) return PathKind::kRegular;
  if (S_ISDIR(st.st_mode)) return PathKind::kFolder;
  if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) return PathKind::kStream;
  return PathKind::kOther;
}

Status WriteInto(const std::filesystem::path& path, std::string_view bytes) {
  // Non-blocking only while opening, so that a FIFO nobody reads fails at
  // once (ENXIO) instead of waiting for a reader.
  const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENXIO) return Status::Error("no program reads from it");
    return Status::Error(Why("cannot open it"));
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  TempFile file{fd, {}};
  Status written = WriteAll(file, bytes);
  if (::close(fd) != 0 && written.ok()) written = Status::Error(Why("cannot write"));
  return written;
}

Status CopyPermissions(const TempFile& file, const std::filesystem::path& like) {
  struct stat st{};
  if (::stat(like.c_str(), &st) != 0) return Status::Error(Why("cannot read its permissions"));
  // The owner first: a change of owner may clear the set-id bits.
  if (::fchown(Fd(file), st.st_uid, st.st_gid) != 0 && ::geteuid() == 0) {
    return Status::Error(Why("cannot give it the database's owner"));
  }
  if (::fchmod(Fd(file), st.st_mode & 07777) != 0) return Status::Error(Why("cannot give it the database's permissions"));
  return Status::Ok();
}

}  // namespace kvr::platform
