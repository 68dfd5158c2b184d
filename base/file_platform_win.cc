// Windows file calls: a hidden temporary file beside the target, flushed
// with FlushFileBuffers and put in place by MoveFileExW, replacing an earlier
// file in one step and writing through to the disk. Names go to the wide
// API as UTF-16.
#include <windows.h>

#include <string>

#include "base/file_platform.h"
#include "base/utf8.h"

namespace kvr::platform {
namespace {

std::string Why(const char* what, DWORD code = GetLastError()) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = "error " + std::to_string(code);
  if (text != nullptr) {
    const std::filesystem::path p(text);  // wide to UTF-8 through the path type
    const auto u8 = p.u8string();
    message.assign(u8.begin(), u8.end());
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
      message.pop_back();
    }
    LocalFree(text);
  }
  return std::string(what) + ": " + message;
}

HANDLE H(const TempFile& f) { return reinterpret_cast<HANDLE>(f.handle); }

void Close(TempFile& f) {
  if (f.handle != -1) CloseHandle(H(f));
  f.handle = -1;
}

}  // namespace

Status CreateTemp(const std::filesystem::path& folder, const std::string& fallback_name,
                                      TempFile& out) {
  out = TempFile{};
  const std::filesystem::path named = folder / std::filesystem::path(std::u8string(fallback_name.begin(), fallback_name.end()));
  const HANDLE h = CreateFileW(named.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Status::Error(Why(("cannot create a file in " + Utf8Path(folder)).c_str()));
  out.handle = reinterpret_cast<std::intptr_t>(h);
  out.named = named;
  return Status::Ok();
}

Status OpenNamed(const std::filesystem::path& named, TempFile& out) {
  out = TempFile{};
  const HANDLE h = CreateFileW(named.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Status::Error(Why("cannot open the copy"));
  out.handle = reinterpret_cast<std::intptr_t>(h);
  out.named = named;
  return Status::Ok();
}

Status WriteAll(const TempFile& file, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(H(file), bytes.data() + done, chunk, &written, nullptr)) return Status::Error(Why("cannot write"));
    done += written;
  }
  return Status::Ok();
}

Status FlushAll(const std::vector<const TempFile*>& files) {
  for (const TempFile* f : files) {
    if (!FlushFileBuffers(H(*f))) return Status::Error(Why("cannot flush to disk"));
  }
  return Status::Ok();
}

Status PutInPlace(TempFile& file, const std::filesystem::path&, const std::string&,
                                      const std::filesystem::path& target) {
  Close(file);
  // The temporary file was hidden only while it was being written.
  SetFileAttributesW(file.named.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!MoveFileExW(file.named.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const std::string why = Why("cannot replace the file");
    DeleteFileW(file.named.c_str());
    file.named.clear();
    return Status::Error(why);
  }
  file.named.clear();
  return Status::Ok();
}

void Discard(TempFile& file) {
  Close(file);
  if (!file.named.empty()) DeleteFileW(file.named.c_str());
  file.named.clear();
}

Status FlushFolder(const std::filesystem::path&) {
  return Status::Ok();  // MOVEFILE_WRITE_THROUGH has made each rename durable
}

void RemoveMatching(const std::filesystem::path& folder, bool (*ours)(std::string_view, std::string_view),
                    std::string_view stem) {
  WIN32_FIND_DATAW found;
  const std::filesystem::path pattern = folder / L"*";
  const HANDLE h = FindFirstFileW(pattern.c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    const std::filesystem::path name(found.cFileName);
    if (ours(Utf8Path(name), stem)) DeleteFileW((folder / name).c_str());
  } while (FindNextFileW(h, &found));
  FindClose(h);
}

std::optional<std::string> UnreadableFileReason(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Why("cannot be read");
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "is a folder, not a file";
  const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Why("cannot be read");
  const DWORD type = GetFileType(h);
  CloseHandle(h);
  if (type == FILE_TYPE_CHAR) return "is a device, not a regular file";
  if (type == FILE_TYPE_PIPE) return "is a pipe, not a regular file";
  if (type != FILE_TYPE_DISK) return "is not a regular file";
  return std::nullopt;
}

PathKind KindOf(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return PathKind::kMissing;
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    return PathKind::kFolder;
  }
  const HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return PathKind::kOther;
  const DWORD type = GetFileType(h);
  CloseHandle(h);
  if (type == FILE_TYPE_DISK) return PathKind::kRegular;
  if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) return PathKind::kStream;
  return PathKind::kOther;
}

Status WriteInto(const std::filesystem::path& path, std::string_view bytes) {
  const HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Status::Error(Why("cannot open it"));
  TempFile file{reinterpret_cast<std::intptr_t>(h), {}};
  const Status written = WriteAll(file, bytes);
  CloseHandle(h);
  return written;
}

Status CopyPermissions(const TempFile&, const std::filesystem::path&) { return Status::Ok(); }

}  // namespace kvr::platform
