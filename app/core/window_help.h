// What the window is, in the words its --help, its manual page and its
// desktop entry share.
#ifndef KVR_APP_CORE_WINDOW_HELP_H_
#define KVR_APP_CORE_WINDOW_HELP_H_

namespace kvr {

inline constexpr const char* kWindowSummary = "Convert a switcher installation workbook in a small window";

inline constexpr const char* kWindowHelp =
    "The KVR Conversion window: \"Convert\", \"Demo .ini\" and \"Read xPoints\" each ask for their files and "
    "write their outputs into the program's folder, or, when that folder takes no files, into \"KVR Conversion\" "
    "under the user's documents; \"Folder...\" chooses another folder, remembered between starts. \"Big Switch\" "
    "uses the Big Switch button function codes; with \"Preview\" ticked, Convert shows every change it is about "
    "to make and asks before keeping any. After each run a line under the status says what the run did; a click "
    "shows the files, the changes per table and the problems and notices found in the workbook, and saves them as "
    "a report. The command line, kvrconversion, does the same in scripts; 'kvrconversion help' lists its "
    "commands.";

}  // namespace kvr

#endif  // KVR_APP_CORE_WINDOW_HELP_H_
