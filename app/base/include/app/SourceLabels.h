#pragma once

namespace updater {

// Where a failure was raised, as its error carries it, and the labels the
// error log files it under: one table for every stage of the window.
namespace sources {

inline constexpr const char* updateRun = "frmUpdater::cmdDownload_Click";
inline constexpr const char* downloadFile = "frmUpdater::DownloadFile";
inline constexpr const char* packageSignature = "frmUpdater::checkPackageSignature";
inline constexpr const char* processExtract = "frmUpdater::processExtract";
inline constexpr const char* runUpdateCommand = "frmUpdater::RunUpdateCommand";
inline constexpr const char* noteError = "frmUpdater::NoteError";
inline constexpr const char* wait = "frmUpdater::wait";
inline constexpr const char* unzipPackage = "Form1::cmdUnZip_Click";
inline constexpr const char* journal = "UpdateJournal";

} // namespace sources

// The log's labels (NoteError's formname).
namespace logLabels {

inline constexpr const char* download = "Updater: Download";
inline constexpr const char* stage = "Updater";
inline constexpr const char* version = "Updater: Version";
// Another run holds the installation: no failure, the user tries later.
inline constexpr const char* busy = "Updater: Busy";

} // namespace logLabels

} // namespace updater
