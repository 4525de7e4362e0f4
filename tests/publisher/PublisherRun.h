#pragma once

#include "testsupport/ChildProcess.h"
#include "testsupport/TempDir.h"

#include <chrono>
#include <string>
#include <vector>

// The publisher's tool run as a publisher runs it, in a process of its own.
struct PublisherRun {
    int status = -1;
    std::string output; // standard output and error together
};

inline PublisherRun runPublisher(const std::vector<std::string>& arguments,
                                 const std::string& outputFile) {
    std::vector<std::string> command{MORVANE_PUBLISH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    testsupport::ChildProcess child(command, outputFile);
    PublisherRun run;
    run.status = child.exitStatusWithin(std::chrono::seconds(60));
    run.output = testsupport::readFile(outputFile);
    return run;
}
