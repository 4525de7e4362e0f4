#pragma once

#include "Chunking.h"
#include "EntrySource.h"
#include "FileSource.h"

#include <zip.h>

namespace zip32 {

// The entry data of a file deflated in chunks as libzip writes it, on the
// calling thread, a piece at a time: libzip copies it as it is, and each
// chunk is reported as its compressed bytes are made. A chunk report that
// asks to stop fails the read (errno ECANCELED). Null when libzip cannot
// take the source.
zip_source_t* chunkedSource(zip_t* archive, const FileToStore& file, int level,
                            const ChunkPlan& plan, ReadFailure& failure);

// Whether libzip may be told a file's size before its data is written: it
// then writes the local header without zip64 fields when the size is below
// its own bound for deflated data, and fails the entry when the data passes
// 4 GiB all the same. Unless the chunked data surely stays below, the size
// is given only once the data is written, which makes libzip write zip64
// fields.
bool sizeToldAhead(uint64_t size, const zipformat::ChunkSizes& sizes);

} // namespace zip32
