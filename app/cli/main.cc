#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#include <filesystem>
#endif

#include "app/cli/cli.h"
#include "base/allocator.h"
#include "base/interrupt.h"

#ifdef _WIN32
namespace {

// Standard output or error on a console: what the program writes, UTF-8,
// handed over as UTF-16 (WriteConsoleW), so "Prüfung" shows as such whatever
// the console's code page.
class ConsoleBuffer : public std::streambuf {
 public:
  explicit ConsoleBuffer(DWORD which) : handle_(GetStdHandle(which)) {
    DWORD mode = 0;
    console_ = handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr && GetConsoleMode(handle_, &mode);
  }
  ~ConsoleBuffer() override { sync(); }
  bool console() const { return console_; }

 protected:
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return sync() == 0 ? traits_type::not_eof(c) : traits_type::eof();
    pending_.push_back(static_cast<char>(c));
    if (c == '\n' || pending_.size() >= 4096) sync();
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    pending_.append(s, static_cast<std::size_t>(n));
    if (pending_.find('\n') != std::string::npos || pending_.size() >= 4096) sync();
    return n;
  }
  int sync() override {
    // Only whole characters are converted: a sequence cut at the end waits.
    std::size_t whole = pending_.size();
    for (std::size_t back = 1; back <= 3 && back <= pending_.size(); ++back) {
      const auto byte = static_cast<unsigned char>(pending_[pending_.size() - back]);
      if ((byte & 0xC0) == 0x80) continue;  // a continuation byte
      const std::size_t needs = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
      if (needs > back) whole = pending_.size() - back;
      break;
    }
    const std::string ready = pending_.substr(0, whole);
    pending_.erase(0, whole);
    if (ready.empty()) return 0;
    DWORD written = 0;
    const int n = MultiByteToWideChar(CP_UTF8, 0, ready.data(), static_cast<int>(ready.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, ready.data(), static_cast<int>(ready.size()), wide.data(), n);
    return WriteConsoleW(handle_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) ? 0 : -1;
  }

 private:
  HANDLE handle_;
  bool console_ = false;
  std::string pending_;
};

}  // namespace
#endif

int main(int argc, char** argv) {
  kvr::LimitAllocatorArenas();  // before a run starts its threads
#ifdef _WIN32
  // Arguments as UTF-8 (the narrow ones are in the ANSI code page); output
  // to a console as UTF-16, elsewhere as UTF-8 text as before.
  ConsoleBuffer out_buffer(STD_OUTPUT_HANDLE), err_buffer(STD_ERROR_HANDLE);
  std::ostream console_out(&out_buffer), console_err(&err_buffer);
  std::ostream& out = out_buffer.console() ? console_out : std::cout;
  std::ostream& err = err_buffer.console() ? console_err : std::cerr;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> utf8;
  for (int i = 0; i < count; ++i) {
    const std::u8string u8 = std::filesystem::path(wide[i]).u8string();
    utf8.emplace_back(u8.begin(), u8.end());
  }
  LocalFree(wide);
  std::vector<const char*> args;
  for (const auto& a : utf8) args.push_back(a.c_str());
  (void)argc;
  (void)argv;
  kvr::CatchInterruptSignals();
  const int status = kvr::RunCommandLine(static_cast<int>(args.size()), args.data(), out, err);
  out.flush();
  err.flush();
  kvr::RunEnded();
  return status;
#else
  // Past a file-size limit a write should fail and be reported, not end the process.
  std::signal(SIGXFSZ, SIG_IGN);
  kvr::CatchInterruptSignals();
  return kvr::RunCommandLine(argc, argv, std::cout, std::cerr);
#endif
}
