#include "workbook/ole2_file.h"

#include <gsf/gsf.h>

#include <memory>
#include <strings.h>

#include "workbook/workbook_error.h"

namespace kvr {
namespace {

struct Unref {
  void operator()(void* p) const { if (p != nullptr) g_object_unref(p); }
};
template <typename T>
using GPtr = std::unique_ptr<T, Unref>;

std::string Describe(GError* err) {
  std::string s = err != nullptr ? err->message : "unknown error";
  if (err != nullptr) g_error_free(err);
  return s;
}

GPtr<GsfInfile> OpenOle2(const std::filesystem::path& path) {
  GError* err = nullptr;
  GPtr<GsfInput> input(gsf_input_stdio_new(path.c_str(), &err));
  if (!input) throw WorkbookError("cannot open " + path.string() + ": " + Describe(err));
  GPtr<GsfInfile> ole(gsf_infile_msole_new(input.get(), &err));
  if (!ole) {
    throw WorkbookError("not a workbook: " + path.string() + " is a damaged OLE2 compound file (" +
                        Describe(err) + ")");
  }
  return ole;
}

}  // namespace

std::vector<std::string> ListOle2Streams(const std::filesystem::path& path) {
  const auto ole = OpenOle2(path);
  std::vector<std::string> names;
  const int count = gsf_infile_num_children(ole.get());
  for (int i = 0; i < count; ++i) {
    const char* child = gsf_infile_name_by_index(ole.get(), i);
    if (child != nullptr) names.emplace_back(child);
  }
  return names;
}

std::optional<std::string> ReadOle2Stream(const std::filesystem::path& path, std::string_view name,
                                          std::size_t cap) {
  const auto ole = OpenOle2(path);
  const std::string n(name);
  // Stream names compare without regard to case.
  GPtr<GsfInput> stream;
  const int count = gsf_infile_num_children(ole.get());
  for (int i = 0; i < count && !stream; ++i) {
    const char* child = gsf_infile_name_by_index(ole.get(), i);
    if (child != nullptr && strcasecmp(child, n.c_str()) == 0) {
      stream.reset(gsf_infile_child_by_index(ole.get(), i));
    }
  }
  if (!stream) return std::nullopt;
  const gsf_off_t size = gsf_input_size(stream.get());
  if (size < 0 || static_cast<std::size_t>(size) > cap) {
    throw WorkbookError("part too large: " + path.string() + ", stream " + n + " holds " +
                        std::to_string(size) + " bytes, more than the " + std::to_string(cap) + " allowed");
  }
  std::string data(static_cast<std::size_t>(size), '\0');
  if (size > 0 && gsf_input_read(stream.get(), static_cast<size_t>(size),
                                 reinterpret_cast<guint8*>(data.data())) == nullptr) {
    throw WorkbookError("damaged workbook: " + path.string() + ": stream " + n + " cannot be read in full");
  }
  return data;
}

}  // namespace kvr
