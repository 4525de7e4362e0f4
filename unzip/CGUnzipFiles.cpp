#include "unzip/CGUnzipFiles.h"

#include "platform/Error.h"
#include "unzip/CodeModuleState.h"
#include "unzip/VBUnzip.h"

namespace {

const char* const source = "CGUnZipFiles::Unzip";

int16_t narrow(int32_t value) {
    if (value < -32768 || value > 32767) {
        platform::raiseError(platform::ErrorNumber::overflow, source);
    }
    return static_cast<int16_t>(value);
}

} // namespace

CGUnzipFiles::CGUnzipFiles()
    : m_extractNewer(0), m_spaceToUnderScore(0), m_promptOverwrite(0), m_messageLevel(2),
      m_writeToStdOut(0), m_testZip(0), m_extractList(0), m_extractOnlyNewer(0),
      m_displayComment(0), m_honorDirectories(1), m_overWriteFiles(1), m_convertCRtoCRLF(0),
      m_verbose(0), m_caseSensitive(1), m_privilege(0) {}

int32_t CGUnzipFiles::Unzip(const std::string& sZipFileName, const std::string& sExtractDir) {
    try {
        if (!sZipFileName.empty()) {
            m_zipFileName = sZipFileName;
        }
        if (!sExtractDir.empty()) {
            m_extractDir = sExtractDir;
        }
        const int16_t privilege = narrow(m_privilege);
        const int16_t extractList = narrow(m_extractList);
        const int16_t messageLevel = narrow(m_messageLevel);
        return CodeModule::VBUnzip(m_zipFileName, m_extractDir, m_extractNewer, m_spaceToUnderScore,
                                   m_promptOverwrite, messageLevel, m_writeToStdOut, m_testZip,
                                   extractList, m_extractOnlyNewer, m_displayComment,
                                   m_honorDirectories, m_overWriteFiles, m_convertCRtoCRLF,
                                   m_verbose, m_caseSensitive, privilege);
    } catch (const platform::Error& failure) {
        throw failure.withSource(source);
    }
}

std::string CGUnzipFiles::GetLastMessage() const {
    return CodeModule::state().lastMessage;
}
