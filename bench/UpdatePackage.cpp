#include "UpdatePackage.h"

#include "BenchSupport.h"
#include "signature/PackageSigning.h"
#include "signature/ReleaseLine.h"
#include "testsupport/PublisherKey.h"
#include "testsupport/TempDir.h"
#include "testsupport/VersionedExecutable.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace bench {

std::string packageFileName(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "file%02d.bin", index);
    return name;
}

void makePackage(const std::string& archive, const std::string& files, int sizeMiB, int fileCount) {
    std::filesystem::create_directories(files);
    std::string instructions;
    for (int i = 0; i < fileCount; ++i) {
        instructions += "MOVE;" + packageFileName(i) + ";APP_PATH\r\n";
    }
    testsupport::writeFile(files + "/updater.ini", instructions);
    const std::string script =
        "import os, sys, zipfile\n"
        "folder, archive, count, size = sys.argv[1], sys.argv[2], int(sys.argv[3]), "
        "int(sys.argv[4])\n"
        "with zipfile.ZipFile(archive, 'w', zipfile.ZIP_DEFLATED, compresslevel=1) as z:\n"
        "    z.write(os.path.join(folder, 'updater.ini'), 'updater.ini')\n"
        "    for i in range(count):\n"
        "        name = 'file%02d.bin' % i\n"
        "        with open(os.path.join(folder, name), 'wb') as f:\n"
        "            f.write(os.urandom(size // count))\n"
        "        z.write(os.path.join(folder, name), name)\n";
    testsupport::writeFile(files + "/make.py", script);
    const std::string command = "python3 " + files + "/make.py " + files + " " + archive + " " +
                                std::to_string(fileCount) + " " +
                                std::to_string(static_cast<long long>(sizeMiB) * 1024 * 1024);
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("could not make the package: " + command);
    }
}

void freshInstallation(const std::string& folder, const std::string& other) {
    std::filesystem::remove_all(other);
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    testsupport::writeVersionedExecutable(folder + "/morvane.exe", "1.0.0.0");
    ::sync();
}

bool updated(const std::string& folder, const std::string& files, int fileCount) {
    for (int i = 0; i < fileCount; ++i) {
        if (!bench::sameFiles(files + "/" + packageFileName(i),
                              folder + "/" + packageFileName(i))) {
            return false;
        }
    }
    return !std::filesystem::exists(folder + "/temp");
}

std::string signPublication(const std::string& published, const std::string& keyFile) {
    const auto publisher = testsupport::makePublisherKey(keyFile);
    const auto key = signature::SigningKey::fromFile(publisher.privateKeyFile);
    const std::string package = published + "/morvane.zip";
    signature::signPackage(package, key, "9.9.9");
    const auto identity = signature::identifyPackage(package);
    testsupport::writeFile(published + "/version.php",
                           "9.9.9\r\n" + signature::formatReleaseLine(signature::signRelease(
                                             "9.9.9", identity.size, identity.sha512,
                                             std::time(nullptr) + 86400, key)));
    return publisher.publicKeyBase64;
}

} // namespace bench
