#pragma once

namespace updater::texts {

// The window's own texts, exactly as the user reads them.
inline constexpr const char* appTitle = "Morvane Updater";
inline constexpr const char* offer = "New version found, Do you want to update";
inline constexpr const char* downloading = "Downloading...";
inline constexpr const char* extracting = "Extracting Files";
inline constexpr const char* processing = "Procesing Updates";
inline constexpr const char* success = "Update Success, Please restart application";
inline constexpr const char* latest = "You are using the latest version of Morvane";
inline constexpr const char* unreachableStart =
    "Unable to reach server, Please check your internet connection and make sure that ";
inline constexpr const char* unreachableEnd = " is accessible";
inline constexpr const char* exitQuestion = "Update in progress,Do you want to stop and exit";
// The status line after a run that stopped once the user had said Yes.
inline constexpr const char* notCompleted = "The update did not complete";
inline constexpr const char* runBusy =
    "Another update of this installation is running; try again when it has finished";

} // namespace updater::texts
