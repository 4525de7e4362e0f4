#pragma once

#include "testsupport/ServerProcess.h"

#include <string>

namespace testsupport {

// Squid started on its port with a configuration written into its own
// folder. Started by root it drops to Debian's proxy user, which is given
// the folder; the shared memory it leaves behind goes with the object.
class SquidProcess : public ServerProcess {
public:
    ~SquidProcess();
    // Its access log, in the format the configuration names "brief".
    std::string accessLog() const;

protected:
    SquidProcess() = default;
    // Writes the configuration (after @FOLDER@ and @PORT@ are filled in,
    // with the folder, pid, logs and shutdown lines added) and starts Squid.
    void startSquid(const std::string& configuration);
};

} // namespace testsupport
