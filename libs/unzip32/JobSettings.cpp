#include "JobSettings.h"

#include "text/Slashes.h"

namespace unzip32 {

namespace {

JobKind kindOf(const UzpOptions& options) {
    if (options.listContents != 0) {
        return JobKind::List;
    }
    if (options.testOnly != 0) {
        return JobKind::Test;
    }
    if (options.writeToStandardOutput != 0) {
        return JobKind::StandardOutput;
    }
    return JobKind::Extract;
}

} // namespace

JobSettings readSettings(const UzpOptions& options) {
    JobSettings settings;
    settings.kind = kindOf(options);
    settings.onlyNewer = options.extractOnlyNewer != 0;
    settings.freshen = options.freshenExisting != 0;
    settings.spacesToUnderscores = options.spacesToUnderscores != 0;
    settings.promptBeforeOverwrite = options.promptBeforeOverwrite != 0;
    settings.overwriteExisting = options.overwriteExisting != 0;
    settings.honorDirectories = options.honorDirectories != 0;
    settings.translateLineEnds = options.translateLineEnds != 0;
    settings.displayComment = options.displayComment != 0;
    settings.verbose = options.verbose != 0;
    settings.caseSensitiveMatching = options.caseSensitiveMatching != 0;
    settings.quietLevel = options.quietLevel;
    settings.privilegeLevel = options.privilegeLevel;
    settings.archivePath = text::withForwardSlashes(options.archivePath);
    if (options.extractionFolder != nullptr) {
        settings.extractionFolder = text::withForwardSlashes(options.extractionFolder);
    }
    return settings;
}

} // namespace unzip32
