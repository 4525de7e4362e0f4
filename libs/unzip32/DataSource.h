#pragma once

#include <zip.h>

#include <cstdint>
#include <memory>
#include <stdexcept>

namespace unzip32 {

// Damaged data of the entry being read; the reader turns it into the
// entry's fault.
class DataError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The bytes of one entry, one stage of its decoding.
class DataSource {
public:
    virtual ~DataSource() = default;
    // Up to capacity bytes into target; 0 only at the end of the data.
    // Throws a DataError for damaged data, a JobStop when the archive fails.
    virtual uint64_t read(unsigned char* target, uint64_t capacity) = 0;
};

// What libzip yields for an open entry file.
class ZipFileSource : public DataSource {
public:
    explicit ZipFileSource(zip_file_t* file) : m_file(file) {}
    uint64_t read(unsigned char* target, uint64_t capacity) override;

private:
    zip_file_t* m_file;
};

// A stretch of the archive file as it is stored.
class FileRangeSource : public DataSource {
public:
    FileRangeSource(int fd, uint64_t offset, uint64_t length)
        : m_fd(fd), m_offset(offset), m_left(length) {}
    uint64_t read(unsigned char* target, uint64_t capacity) override;

private:
    int m_fd;
    uint64_t m_offset;
    uint64_t m_left;
};

// Inflates raw deflated data from another stage, and reads that stage to its
// end so that whatever it checks at the end is checked.
class InflatingSource : public DataSource {
public:
    // compressedSize bounds the reads of the compressed stage, so that a
    // small entry takes a small buffer.
    InflatingSource(std::unique_ptr<DataSource> compressed, uint64_t compressedSize);
    ~InflatingSource() override;
    InflatingSource(const InflatingSource&) = delete;
    InflatingSource& operator=(const InflatingSource&) = delete;

    uint64_t read(unsigned char* target, uint64_t capacity) override;

private:
    struct State;
    std::unique_ptr<DataSource> m_compressed;
    std::unique_ptr<State> m_state;
};

} // namespace unzip32
