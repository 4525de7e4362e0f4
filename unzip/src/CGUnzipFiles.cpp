#include "unzip/CGUnzipFiles.h"

#include "codemodule/CodeModuleState.h"
#include "platform/Error.h"
#include "platform/Narrowing.h"
#include "unzip/VBUnzip.h"

namespace {

const char* const source = "CGUnZipFiles::Unzip";

} // namespace

CGUnzipFiles::CGUnzipFiles()
    : m_extractNewer(0), m_spaceToUnderScore(0), m_promptOverwrite(0), m_messageLevel(2),
      m_writeToStdOut(0), m_testZip(0), m_extractList(0), m_extractOnlyNewer(0),
      m_displayComment(0), m_honorDirectories(1), m_overWriteFiles(1), m_convertCRtoCRLF(0),
      m_verbose(0), m_caseSensitive(1), m_privilege(0) {}

int32_t CGUnzipFiles::Unzip(const std::string& sZipFileName, const std::string& sExtractDir) {
    return platform::withOwnSource(source, [&] {
        if (!sZipFileName.empty()) {
            m_zipFileName = sZipFileName;
        }
        if (!sExtractDir.empty()) {
            m_extractDir = sExtractDir;
        }
        const int16_t privilege = platform::narrowToInt16(m_privilege, source);
        const int16_t extractList = platform::narrowToInt16(m_extractList, source);
        const int16_t messageLevel = platform::narrowToInt16(m_messageLevel, source);
        return CodeModule::VBUnzip(m_zipFileName, m_extractDir, m_extractNewer, m_spaceToUnderScore,
                                   m_promptOverwrite, messageLevel, m_writeToStdOut, m_testZip,
                                   extractList, m_extractOnlyNewer, m_displayComment,
                                   m_honorDirectories, m_overWriteFiles, m_convertCRtoCRLF,
                                   m_verbose, m_caseSensitive, privilege);
    });
}

std::string CGUnzipFiles::GetLastMessage() const {
    return CodeModule::state().lastMessage;
}
