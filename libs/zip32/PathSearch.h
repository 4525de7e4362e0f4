#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zip32 {

// Finding what a name given to the library stands for on disk.

// The path with every component that names an existing entry spelt as it is
// on disk, found without regard to letter case: an exact match wins, then
// the first case variant in byte order. Components that do not exist stay as
// written. "." and ".." are resolved by the text alone. "*" and "?" are part
// of a name here: the root folder and the archive are the ones named, never
// another that the characters would match.
std::string resolvePath(const std::string& absolutePath);

// Every existing path a pattern ("*" and "?" within one component) stands
// for, in byte order; a component without wildcards is found as in
// resolvePath. Names beginning with "." match a wildcard component only when
// hidden is true or the component itself begins with ".".
std::vector<std::string> expandPattern(const std::string& absolutePattern, bool hidden);

// The same for a pattern relative to folder, which must be a path as
// resolvePath gives it: its own components are taken as they stand rather
// than looked up again, so wildcards in them match nothing beside it.
std::vector<std::string> expandBelow(const std::string& folder, const std::string& pattern,
                                     bool hidden);

// The names in a folder, in byte order; nothing when it cannot be read.
std::optional<std::vector<std::string>> readFolder(const std::string& folder);
// The same, empty when the folder cannot be read.
std::vector<std::string> folderNames(const std::string& folder);

// a/b without a doubled slash.
std::string joinPath(const std::string& folder, const std::string& name);

} // namespace zip32
