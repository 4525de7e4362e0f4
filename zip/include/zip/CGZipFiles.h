#pragma once

#include "codemodule/CodeModuleState.h"
#include "zipformat/ContentChunker.h"

#include <cstdint>
#include <string>
#include <vector>

// A list of file names and the few options of one zip archive, built or
// updated in one call by MakeZipFile. The list starts with a placeholder
// name, which the library is handed first and ZipFileCount leaves out. Flags
// are kept as 1 or 0, the way the library takes them.
class CGZipFiles {
public:
    CGZipFiles();

    bool RecurseFolders() const { return m_recurseFolders == 1; }
    void RecurseFolders(bool bRecurse) { m_recurseFolders = flag(bRecurse); }
    std::string ZipFileName() const { return m_zipFileName; }
    void ZipFileName(const std::string& sZipFileName) { m_zipFileName = sZipFileName; }
    // Kept and reported; the archive call does not pass it on.
    bool Encrypted() const { return m_encrypted == 1; }
    void Encrypted(bool bEncrypt) { m_encrypted = flag(bEncrypt); }
    // Kept and reported; the archive call does not pass it on.
    bool IncludeSystemFiles() const { return m_includeSystemFiles == 1; }
    void IncludeSystemFiles(bool bInclude) { m_includeSystemFiles = flag(bInclude); }
    int32_t ZipFileCount() const;
    std::string RootDirectory() const { return m_rootDirectory; }
    void RootDirectory(const std::string& sRootDir) { m_rootDirectory = sRootDir; }
    bool UpdatingZip() const { return m_updatingZip == 1; }
    void UpdatingZip(bool bUpdating) { m_updatingZip = flag(bUpdating); }

    // Whether the files are stored as they are, not compressed; the archive
    // call passes it on as the library's level byte '0'.
    bool storedOnly() const { return m_storedOnly; }
    void storedOnly(bool stored) { m_storedOnly = stored; }

    // Files of at least this many bytes (on disk) are deflated in chunks,
    // cut with chunkSizes, that each inflate alone from their offset in the
    // entry's data; 0, the default, chunks none. Stored or encrypted
    // entries are never chunked.
    uint64_t smallestChunkedFile() const { return m_smallestChunkedFile; }
    void smallestChunkedFile(uint64_t size) { m_smallestChunkedFile = size; }
    const zipformat::ChunkSizes& chunkSizes() const { return m_chunkSizes; }
    void chunkSizes(const zipformat::ChunkSizes& sizes) { m_chunkSizes = sizes; }
    // The chunks of the entries the latest MakeZipFile wrote in chunks, in
    // the order of the entries and of their chunks; entries it kept from an
    // existing archive are not among them.
    const std::vector<CodeModule::ZipChunk>& chunks() const { return m_chunks; }

    // Appends a name; one already in the list, in any letter case, raises
    // 0x800407D1 "File is already in Zip List".
    void AddFile(const std::string& sFileName);
    // Removes a name, in any letter case; one not in the list raises
    // 0x800407D2 "File is not in Zip List".
    void RemoveFile(const std::string& sFileName);
    // Builds or updates the archive and returns the library's result. More
    // than 100 names, placeholder included, raise the subscript error 9 with
    // the source "CGZipFiles::MakeZipFile" and call nothing.
    int32_t MakeZipFile();
    // What the latest zip or unzip call printed.
    std::string GetLastMessage() const;

private:
    static int16_t flag(bool value) { return value ? 1 : 0; }
    // The entry stored under this name's key, or end().
    std::vector<std::string>::iterator find(const std::string& name);

    std::vector<std::string> m_files;
    int16_t m_recurseFolders = 0;
    std::string m_zipFileName;
    int16_t m_encrypted = 0;
    int16_t m_includeSystemFiles = 0;
    std::string m_rootDirectory = "\\";
    int16_t m_updatingZip = 0;
    bool m_storedOnly = false;
    uint64_t m_smallestChunkedFile = 0;
    zipformat::ChunkSizes m_chunkSizes;
    std::vector<CodeModule::ZipChunk> m_chunks;
};
