#pragma once

#include "EntrySource.h"
#include "fileio/UniqueFd.h"
#include "zipformat/LineEnds.h"

#include <zip.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <sys/types.h>

namespace zip32 {

// What a file source needs to know of its file.
struct FileToStore {
    std::string path;
    // What will be stored: the file's size, or its size after translation.
    uint64_t size = 0;
    std::time_t modified = 0;
    zipformat::LineEndChange lineEnds = zipformat::LineEndChange::none;
};

// Opens a chosen file to read the bytes to store, as fileio::openRegularFile
// does: never waiting (a FIFO put in the file's place since it was chosen
// would wait for a writer for ever), and only a regular file. For anything
// else the descriptor is empty, errno EINVAL and refusal says what the path
// is now; other failures leave refusal as it was, with errno set.
fileio::UniqueFd openChosenFile(const std::string& path, std::string& refusal);

// The bytes to store for a file: read when libzip writes the entry, with its
// line ends changed on the way where asked. Sets failure on a read fault.
zip_source_t* fileSource(zip_t* archive, const FileToStore& file, ReadFailure& failure);

// The number of bytes a file has once its line ends are changed; the errno of
// a read failure is thrown as a JobFailure.
uint64_t translatedSize(const std::string& path, zipformat::LineEndChange change);

// Whether the file reads as text by the start zipformat::looksLikeText
// decides on; false when it cannot be read.
bool fileLooksLikeText(const std::string& path);

} // namespace zip32
