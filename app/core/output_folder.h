// Where a run's outputs go, and the file patterns the front ends' file
// dialogs offer.
#ifndef KVR_APP_CORE_OUTPUT_FOLDER_H_
#define KVR_APP_CORE_OUTPUT_FOLDER_H_

#include <filesystem>
#include <string>

#include "base/status.h"

namespace kvr {

struct OutputFolder {
  std::filesystem::path path;
  bool fell_back = false;  // the program's folder takes no files: the user's folder was taken instead
  bool chosen = false;     // the user chose this folder
};

// True when `program_folder` is where an installation put the program,
// which is never written to however writable it is: the Windows setup's
// uninstaller ("uninstall.exe") beside the program, or a Unix prefix whose
// share/doc/kvrconversion holds the program's documents (a package, or
// `cmake --install`).
bool IsInstalledProgramFolder(const std::filesystem::path& program_folder);

// The window's output folder: `chosen` when the user picked one and it is
// still a folder; else the program's own folder when it is a portable copy
// (not installed) and a file can be made there; else `fallback` (the user's
// "KVR Conversion" under the documents, made on first use).
OutputFolder WindowOutputFolder(const std::filesystem::path& chosen, const std::filesystem::path& program_folder,
                                const std::filesystem::path& fallback);

// The example plant an installation ships (a workbook and the database
// that fits it): beside the program ("example"), or in a Unix prefix's
// share/doc/kvrconversion/examples. Empty when there is none.
std::filesystem::path ShippedExampleFolder(const std::filesystem::path& program_folder);

// Gives an installed program's user an example to try that the program
// may write to: copies the shipped example's files into `output`/"example"
// unless that folder exists already (the user's copy is never touched).
// Returns the folder copied to, or "" when nothing was copied.
std::filesystem::path CopyExampleFor(const std::filesystem::path& program_folder, const OutputFolder& output);

// The folder a file dialog opens in: `last` (the folder the user last took
// a file from, remembered by the window) while it is a folder, else the
// output folder; never the program's folder of an installation.
std::filesystem::path DialogStartFolder(const std::filesystem::path& last, const OutputFolder& output);

// The command line's output folder made ready: an existing folder as it is,
// a missing one created with its parents. Returns the outermost folder it
// created ("" when the folder existed), or why it cannot be used (a file of
// that name, no right to create it).
Result<std::filesystem::path> PrepareOutputFolder(const std::filesystem::path& folder);

// Removes `created` (as PrepareOutputFolder returned it) again when no file
// came into it: a run that did not run leaves no trace.
void RemoveIfNothingCame(const std::filesystem::path& created);

// The file patterns a chooser's first filter lists for `extension`: the
// extension itself, then every other name of a file this program reads in
// its place ("xls" also lists *.xlsx *.xlsm *.ods; "mdb" the SQLite names).
std::string FilePatternsFor(const std::string& extension);

// True when a chooser asked with `extension` asks for the switcher database
// (else for the workbook).
bool AsksForDatabase(const std::string& extension);

}  // namespace kvr

#endif  // KVR_APP_CORE_OUTPUT_FOLDER_H_
