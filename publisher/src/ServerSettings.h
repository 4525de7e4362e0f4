#pragma once

#include <string>

namespace publisher {

// OUTPUT_FOLDER/server-settings, beside the served clientfiles folder; it
// need not be served.
std::string serverSettingsFolderOf(const std::string& outputFolder);

// Writes each web server's and cache's settings, filled with the served
// paths and answerLifetime (the seconds a cache may keep the version
// answer), into the settings folder, each file replacing the earlier one
// whole. PublishError when one cannot be written.
void writeServerSettings(const std::string& outputFolder, int answerLifetime);

} // namespace publisher
