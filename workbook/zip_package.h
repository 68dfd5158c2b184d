// A zip package (an .xlsx or .ods workbook) written part by part through
// libzip: a part is given whole, or made a piece at a time as the archive
// compresses it, so that a part of a hundred megabytes is never held whole.
// Every part is dated alike, so the same parts give the same bytes.
#ifndef KVR_WORKBOOK_ZIP_PACKAGE_H_
#define KVR_WORKBOOK_ZIP_PACKAGE_H_

#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/status.h"

namespace kvr {

class ZipPackage {
 public:
  // Appends the part's next bytes to `out`; false once the part is complete
  // (what it appended last still counts).
  using Maker = std::function<bool(std::string& out)>;

  // A part kept as it is (the media type an OpenDocument reader looks for
  // first), or compressed.
  void AddStored(std::string name, std::string bytes);
  void Add(std::string name, std::string bytes);
  void AddMade(std::string name, Maker maker);

  // Creates `path` (never over an existing file) with the parts in the
  // order added; on failure nothing is left at `path`.
  Status Write(const std::filesystem::path& path, std::time_t created);

  // How hard parts are compressed: zlib's level 3 gives within a sixth of
  // the default level's size in less than half its time, and a plant's
  // workbook is tens of megabytes of XML.
  static constexpr int kLevel = 3;

 private:
  struct Part;
  std::vector<std::shared_ptr<Part>> parts_;
};

}  // namespace kvr

#endif  // KVR_WORKBOOK_ZIP_PACKAGE_H_
