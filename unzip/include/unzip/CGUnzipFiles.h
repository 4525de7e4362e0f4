#pragma once

#include <cstdint>
#include <string>

// The options of one unpacking, handed to the unzip library by Unzip.
// Flags are kept as 1 or 0, the way the library takes them.
class CGUnzipFiles {
public:
    CGUnzipFiles();

    bool ExtractNewer() const { return m_extractNewer == 1; }
    void ExtractNewer(bool bExtractNewer) { m_extractNewer = flag(bExtractNewer); }
    bool SpaceToUnderScore() const { return m_spaceToUnderScore == 1; }
    void SpaceToUnderScore(bool bConvert) { m_spaceToUnderScore = flag(bConvert); }
    bool PromptOverwrite() const { return m_promptOverwrite == 1; }
    void PromptOverwrite(bool bPrompt) { m_promptOverwrite = flag(bPrompt); }
    int32_t MessageLevel() const { return m_messageLevel; }
    void MessageLevel(int32_t iLevel) { m_messageLevel = iLevel; }
    bool WriteToStdOut() const { return m_writeToStdOut == 1; }
    void WriteToStdOut(bool bWrite) { m_writeToStdOut = flag(bWrite); }
    bool TestZip() const { return m_testZip == 1; }
    void TestZip(bool bTest) { m_testZip = flag(bTest); }
    int32_t ExtractList() const { return m_extractList; }
    void ExtractList(int32_t zExType) { m_extractList = zExType; }
    bool ExtractOnlyNewer() const { return m_extractOnlyNewer == 1; }
    void ExtractOnlyNewer(bool bOnlyNewer) { m_extractOnlyNewer = flag(bOnlyNewer); }
    bool DisplayComment() const { return m_displayComment == 1; }
    void DisplayComment(bool bDisplay) { m_displayComment = flag(bDisplay); }
    bool HonorDirectories() const { return m_honorDirectories == 1; }
    void HonorDirectories(bool bHonor) { m_honorDirectories = flag(bHonor); }
    bool OverWriteFiles() const { return m_overWriteFiles == 1; }
    void OverWriteFiles(bool bOverWrite) { m_overWriteFiles = flag(bOverWrite); }
    bool ConvertCRtoCRLF() const { return m_convertCRtoCRLF == 1; }
    void ConvertCRtoCRLF(bool bConvert) { m_convertCRtoCRLF = flag(bConvert); }
    bool Verbose() const { return m_verbose == 1; }
    void Verbose(bool bVerbose) { m_verbose = flag(bVerbose); }
    bool CaseSensitive() const { return m_caseSensitive == 1; }
    void CaseSensitive(bool bCaseSensitive) { m_caseSensitive = flag(bCaseSensitive); }
    int32_t Privilege() const { return m_privilege; }
    void Privilege(int32_t zPriv) { m_privilege = zPriv; }
    std::string ZipFileName() const { return m_zipFileName; }
    void ZipFileName(const std::string& sZipFileName) { m_zipFileName = sZipFileName; }
    std::string ExtractDir() const { return m_extractDir; }
    void ExtractDir(const std::string& sExtractDir) { m_extractDir = sExtractDir; }

    // Runs the library with the options as they are now; non-empty texts
    // first replace ZipFileName and ExtractDir. Returns the library's result.
    int32_t Unzip(const std::string& sZipFileName, const std::string& sExtractDir);
    // What the latest zip or unzip call printed.
    std::string GetLastMessage() const;

private:
    static int16_t flag(bool value) { return value ? 1 : 0; }

    int16_t m_extractNewer;
    int16_t m_spaceToUnderScore;
    int16_t m_promptOverwrite;
    int32_t m_messageLevel;
    int16_t m_writeToStdOut;
    int16_t m_testZip;
    int32_t m_extractList;
    int16_t m_extractOnlyNewer;
    int16_t m_displayComment;
    int16_t m_honorDirectories;
    int16_t m_overWriteFiles;
    int16_t m_convertCRtoCRLF;
    int16_t m_verbose;
    int16_t m_caseSensitive;
    int32_t m_privilege;
    std::string m_zipFileName;
    std::string m_extractDir;
};
