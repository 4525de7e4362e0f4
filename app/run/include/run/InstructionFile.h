#pragma once

#include "app/InstallationPaths.h"
#include "app/StageContext.h"
#include "platform/shell/Shell.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace updater {

// A path field of the instruction file: upper-cased, then every
// "APP_PATH" replaced by the installation folder as it is.
std::string expandPathField(const std::string& field, const std::string& installFolder);

// The instruction file, read line by line. A line ends at CR LF or at a
// lone CR; a lone LF stays inside it. Open while the object lives.
class InstructionReader {
public:
    // Raises the file error when it cannot be opened.
    explicit InstructionReader(const std::string& path);
    // The next line; false at the end. A file that ends with a line end has
    // no empty line after it.
    bool next(std::string& line);

private:
    struct FileCloser {
        void operator()(std::FILE* file) const;
    };
    std::unique_ptr<std::FILE, FileCloser> m_file;
};

// What one line of the instruction file does: "MOVE", "MAKEDIR" or "EXEC"
// through the file-system service or the shell; any other word nothing.
class UpdateCommands {
public:
    UpdateCommands(const InstallationPaths& paths, StageContext& context, platform::Shell& shell);

    // Carries out the line; every failure is raised to the caller.
    void run(const std::string& line);

    // The bytes the line would add to the disk: what a MOVE copies (a file
    // it replaces stays on the disk until the update is complete); 0 for
    // any other line and for a line that will fail anyway. Changes nothing.
    std::uint64_t bytesAdded(const std::string& line);

private:
    const InstallationPaths& m_paths;
    StageContext& m_context;
    platform::Shell& m_shell;
};

} // namespace updater
