#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace updater {

// How the journal names the paths an update changes, and where a recorded
// path lies in the installation that finishes the journal.

// Whether path names its entry directly: it has no empty, "." or ".." piece
// (after the leading "/" of an absolute path), so it cannot step out of the
// folder it is read in. The empty path and the root do not.
bool namesDirectly(std::string_view path);

// The part of path below folder ("a/b" for "/x/a/b" in "/x"), from the
// texts alone; nothing when path is not below folder.
std::optional<std::string> pathBelow(std::string_view folder, std::string_view path);

// How the journal of the installation at installFolder (a canonical path)
// names target: relative to the installation when it lies inside it,
// absolute when not. The folders on the way are followed through links,
// "." and ".." as the disk has them now; the last piece is taken as it is,
// for a change replaces a link itself. Raises platform::Error when target
// names no entry directly even then (a folder on the way that does not
// exist, or the installation folder itself).
std::string journalPath(const std::string& installFolder, const std::string& target);

// Where a recorded path lies when the installation at installFolder
// finishes the journal.
std::string placeOf(const std::string& installFolder, const std::string& recorded);

} // namespace updater
