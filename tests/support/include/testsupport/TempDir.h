#pragma once

#include <string>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with all its
// contents when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    static void makeFolder(const std::string& path);
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool exists(const std::string& path);
// Where tests leave files worth looking at (screenshots); created on demand.
std::string artifactFolder();

} // namespace testsupport
