#pragma once

#include "Chunking.h"
#include "FileSource.h"
#include "JobSettings.h"
#include "Precompression.h"
#include "Selection.h"

#include <zip.h>

#include <string>

namespace zip32 {

// Puts selected files and folders into an open archive with their level,
// times, permission bits and encryption; the data itself is read when the
// archive is written.
class EntryWriter {
public:
    // Files the queue takes are deflated ahead by it; with no queue, or for
    // larger files, libzip deflates as it writes, unless the chunking takes
    // them: then they are deflated in chunks as they are written, and the
    // chunks go to report.
    EntryWriter(zip_t* archive, const JobSettings& settings, std::string password,
                ReadFailure& failure, CompressionQueue* queue, const Chunking& chunking,
                ChunkReport& report)
        : m_archive(archive), m_settings(settings), m_password(std::move(password)),
          m_failure(failure), m_queue(queue), m_chunking(chunking), m_report(report) {}

    // Adds item, replacing an entry of the same exact name. Throws JobFailure.
    void add(const SelectedItem& item);

private:
    // The data of a file, deflated ahead or in chunks where it is to be;
    // whether libzip copies it as it is (precompressed).
    zip_source_t* fileData(const SelectedItem& item, bool& precompressed);
    void describe(zip_uint64_t index, const SelectedItem& item, bool precompressed);

    zip_t* m_archive;
    const JobSettings& m_settings;
    std::string m_password;
    ReadFailure& m_failure;
    CompressionQueue* m_queue;
    const Chunking& m_chunking;
    ChunkReport& m_report;
};

// The line-end change that applies to a file under the settings: none for a
// file that does not read as text.
zipformat::LineEndChange lineEndsFor(const std::string& path, const JobSettings& settings);

} // namespace zip32
