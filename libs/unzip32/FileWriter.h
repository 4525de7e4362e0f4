#pragma once

#include "AccessRights.h"
#include "EntryInfo.h"
#include "fileio/UniqueFd.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace unzip32 {

// Writes extracted files on a thread of its own, so that creating and
// writing files overlaps reading and inflating the next data on the calling
// thread. It calls no callback: the calling thread reports each file's
// outcome when it collects it. Memory stays bounded: the data in transit is
// held in a fixed set of buffers.
class FileWriter {
public:
    struct Outcome {
        EntryInfo entry;
        // The progress line for a file put in place.
        std::string line;
        // Set when the file could not be written.
        std::optional<int32_t> failureCode;
        std::string problem;
        bool stopsJob = false;
    };

    // A buffer of bufferSize bytes, left unset until written into.
    using Buffer = std::unique_ptr<char[]>;

    explicit FileWriter(std::size_t bufferSize);
    // Drops whatever is still in transit; no half-written file stays.
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Starts the file name in the folder.
    void begin(std::shared_ptr<const fileio::UniqueFd> folder, const std::string& name,
               const TargetAttributes& attributes, const EntryInfo& entry, std::string line);
    std::size_t bufferSize() const { return m_bufferSize; }
    // A buffer for the file's next data: made at its first need, up to a
    // few; waits while every one is in use.
    Buffer emptyBuffer();
    // Hands over the next data of the file: the first length bytes of a
    // buffer emptyBuffer gave (none: it is only given back).
    void write(Buffer buffer, std::size_t length);
    // Hands over the next data of the file, copied into buffers.
    void write(std::string_view data);
    // Ends the file: with complete it is put in place, otherwise dropped
    // without an outcome (the caller reports why).
    void end(bool complete);
    // The outcomes gathered so far, in order; with wait, once every file
    // handed over has ended.
    std::vector<Outcome> collect(bool wait);

private:
    enum class Step { Begin, Data, End };
    struct Command {
        Step step = Step::Data;
        std::shared_ptr<const fileio::UniqueFd> folder;
        std::string name;
        TargetAttributes attributes;
        std::optional<Outcome> outcome;
        Buffer data;
        std::size_t length = 0;
        bool complete = false;
    };
    class Work;

    void run();
    void serve();
    // Queues a command; with wake, the writing thread is woken for it.
    void push(Command command, bool wake);

    std::mutex m_mutex;
    // Each side waits on its own condition and is woken only while it waits,
    // which keeps the hand-over of a small file to a few system calls.
    std::condition_variable m_workArrived;
    std::condition_variable m_workDone;
    bool m_writerWaiting = false;
    bool m_callerWaiting = false;
    std::deque<Command> m_commands;
    const std::size_t m_bufferSize;
    std::vector<Buffer> m_freeBuffers;
    std::size_t m_buffersMade = 0;
    std::vector<Outcome> m_outcomes;
    std::size_t m_filesInTransit = 0;
    bool m_quit = false;
    bool m_broken = false;
    bool m_brokenReported = false;
    std::thread m_thread;
};

} // namespace unzip32
