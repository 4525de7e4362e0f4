#include "unzip32test/FullDiskCase.h"

#include "unzip32test/ArchiveTools.h"

#include <gtest/gtest.h>

#include <random>

namespace unzip32test {

std::string fullDiskArchive(const std::string& folder) {
    std::string incompressible(3 * 1024 * 1024, '\0');
    std::mt19937 random(7);
    for (char& c : incompressible) {
        c = static_cast<char>(random());
    }
    writeTree(folder + "/source",
              {{"a.txt", "first"}, {"b.bin", incompressible}, {"c.txt", "last"}});
    return scriptArchive("stored", folder + "/p.zip", folder + "/source");
}

void expectStoppedByTheFullDisk(const std::string& archive, const std::string& out) {
    UnzipCall call;
    EXPECT_EQ(call.run(archive, out), UZP_DISK_FULL);
    EXPECT_EQ(readTree(out), (Tree{{"a.txt", "first"}}));
    EXPECT_NE(call.printed.find("error: b.bin: cannot write the file: No space left on device"),
              std::string::npos)
        << call.printed;
    EXPECT_EQ(call.printed.find("c.txt"), std::string::npos) << "the job goes no further";
}

} // namespace unzip32test
