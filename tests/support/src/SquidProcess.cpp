#include "testsupport/SquidProcess.h"

#include <filesystem>

namespace testsupport {

namespace {

namespace fs = std::filesystem;

// What every Squid of the tests keeps in its own folder.
const char* const ownFolderLines = R"(
pid_filename @FOLDER@/squid.pid
cache_log @FOLDER@/cache.log
cache_store_log none
coredump_dir @FOLDER@
access_log stdio:@FOLDER@/access.log brief
shutdown_lifetime 0 seconds
)";

// The service name squid gives its shared memory, which outlives it.
std::string squidService(int port) {
    return "updatersquid" + std::to_string(port);
}

} // namespace

SquidProcess::~SquidProcess() {
    stop();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/dev/shm", ec)) {
        if (entry.path().filename().string().rfind(squidService(port()) + "-", 0) == 0) {
            fs::remove(entry.path(), ec);
        }
    }
}

std::string SquidProcess::accessLog() const {
    return readFile(folder() / "access.log");
}

void SquidProcess::startSquid(const std::string& configuration) {
    const std::string& own = folder().path();
    writeFile(own + "/squid.conf", filled(configuration + ownFolderLines,
                                          {{"@FOLDER@", own}, {"@PORT@", std::to_string(port())}}));
    // It refuses to run as root and drops to Debian's proxy user.
    handFolderTo("proxy");
    start({"squid", "-N", "-n", squidService(port()), "-f", own + "/squid.conf"});
}

} // namespace testsupport
