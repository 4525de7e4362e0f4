#include "zip/CGZipFiles.h"

#include "codemodule/CodeModuleState.h"
#include "codemodule/LibraryBoundary.h"
#include "platform/Error.h"
#include "platform/Narrowing.h"
#include "text/LetterCase.h"
#include "zip/VBZip.h"

#include <algorithm>

namespace {

const char* const placeholder = "querty";
const char* const makeSource = "CGZipFiles::MakeZipFile";
// The library's level bytes: its default deflate, and level 0 (stored).
constexpr uint8_t defaultLevel = 0;
constexpr uint8_t storeLevel = '0';

constexpr int32_t alreadyListed = platform::ErrorNumber::objectDefinedBase + 2001;
constexpr int32_t notListed = platform::ErrorNumber::objectDefinedBase + 2002;

} // namespace

CGZipFiles::CGZipFiles() : m_files{placeholder} {}

int32_t CGZipFiles::ZipFileCount() const {
    return m_files.empty() ? 0 : static_cast<int32_t>(m_files.size()) - 1;
}

std::vector<std::string>::iterator CGZipFiles::find(const std::string& name) {
    const std::u32string key = text::foldCase(name);
    return std::find_if(m_files.begin(), m_files.end(),
                        [&](const std::string& entry) { return text::foldCase(entry) == key; });
}

void CGZipFiles::AddFile(const std::string& sFileName) {
    const auto found = find(sFileName);
    if (found != m_files.end() && !found->empty()) {
        throw platform::Error(alreadyListed, "CGZip::AddFile", "File is already in Zip List");
    }
    m_files.push_back(sFileName);
}

void CGZipFiles::RemoveFile(const std::string& sFileName) {
    const auto found = find(sFileName);
    if (found == m_files.end() || found->empty()) {
        throw platform::Error(notListed, "CGZip::RemoveFile", "File is not in Zip List");
    }
    m_files.erase(found);
}

int32_t CGZipFiles::MakeZipFile() {
    return platform::withOwnSource(makeSource, [&] {
        m_chunks.clear();
        const CodeModule::NameList names(m_files, makeSource);
        const int16_t count =
            platform::narrowToInt16(static_cast<int32_t>(m_files.size()), makeSource);
        const int32_t result = CodeModule::VBZip(
            count, m_zipFileName, names, 0, m_recurseFolders, m_updatingZip, 0, m_rootDirectory, 0,
            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, m_storedOnly ? storeLevel : defaultLevel,
            {m_smallestChunkedFile, m_chunkSizes});
        m_chunks = std::move(CodeModule::state().zipChunks);
        CodeModule::state().zipChunks.clear();
        return result;
    });
}

std::string CGZipFiles::GetLastMessage() const {
    return CodeModule::state().lastMessage;
}
