#pragma once

#include <map>
#include <string>
#include <vector>

namespace unzip32test {

// Runs a program (no shell) in folder; throws with its output when it fails.
void runTool(const std::vector<std::string>& arguments, const std::string& folder = {});

// Builds an archive with the test script: KIND OUT [SOURCE_FOLDER]; see
// make_archives.py for the kinds.
std::string scriptArchive(const std::string& kind, const std::string& out,
                          const std::string& source = {});

// A folder's contents: relative path to file bytes, "<folder>" for a folder,
// "-> target" for a symbolic link.
using Tree = std::map<std::string, std::string>;
Tree readTree(const std::string& root);
void writeTree(const std::string& root, const Tree& tree);

// The entries a package usually has: text, a binary larger than one read
// buffer, an empty file, a UTF-8 name, nested and empty folders.
Tree samplePackage();

} // namespace unzip32test
