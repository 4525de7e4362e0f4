#include "JournalScope.h"

#include "journal/JournalPaths.h"
#include "platform/Error.h"
#include "platform/files/PathPlace.h"

namespace updater {

namespace {

// The first format's records, each path inside the installation made
// relative; true when one lies inside it.
bool takeFirstFormat(std::vector<JournalRecord>& records, const std::string& installation) {
    bool inside = false;
    for (JournalRecord& record : records) {
        try {
            record.path = journalPath(installation, record.path);
            inside = inside || !record.outside();
        } catch (const platform::Error&) {
            // Not a path the installation can name; it stays as written.
        }
    }
    return inside;
}

} // namespace

JournalScope scopeOf(JournalContents contents, const std::string& installFolder) {
    const std::string installation = platform::canonicalPath(installFolder);
    JournalScope result{std::move(contents.records), UndoScope::everyChange, {}};
    if (!contents.installation.empty()) {
        if (contents.installation != installation) {
            result.scope = UndoScope::installation;
            result.outsideOwner =
                "the journal was written by the installation in " + contents.installation;
        }
        return result;
    }
    if (!takeFirstFormat(result.records, installation) && !result.records.empty()) {
        result.scope = UndoScope::installation;
        result.outsideOwner = "the journal was written by an earlier updater in another "
                              "installation folder";
    }
    return result;
}

} // namespace updater
