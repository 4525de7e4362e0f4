#include "FileWriter.h"

#include "JobError.h"
#include "PendingFile.h"
#include "ResultText.h"
#include "unzip32.h"

#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <utility>

namespace unzip32 {

namespace {

constexpr std::size_t bufferCount = 4;

} // namespace

// What the writing thread holds of the file it is writing.
class FileWriter::Work {
public:
    void begin(Command& command) {
        m_folder = std::move(command.folder);
        m_name = std::move(command.name);
        m_attributes = command.attributes;
        m_outcome = std::move(command.outcome);
        m_dropped = m_stopped;
        if (!m_dropped) {
            attempt([&] { m_file = std::make_unique<PendingFile>(m_folder->get()); });
        }
    }

    void write(const Command& command) {
        if (m_file) {
            attempt([&] { m_file->write({command.data.get(), command.length}); });
        }
    }

    // The outcome to report: none for a file dropped after the job ended, nor
    // for one the caller gave up (it reports why), unless writing it is what
    // ended the job.
    std::optional<Outcome> end(bool complete) {
        if (complete && m_file) {
            attempt([&] { m_file->commit(m_name, m_attributes); });
        }
        m_file.reset();
        m_folder.reset();
        std::optional<Outcome> outcome = std::exchange(m_outcome, std::nullopt);
        if (m_dropped || !outcome || (!complete && !outcome->stopsJob)) {
            return std::nullopt;
        }
        return outcome;
    }

private:
    template <typename Step> void attempt(Step step) {
        try {
            step();
        } catch (const EntryFault& fault) {
            fail(fault.code(), fault.what(), fault.stopsTheJob());
        } catch (const std::bad_alloc&) {
            fail(UZP_OUT_OF_MEMORY, resultText(UZP_OUT_OF_MEMORY), true);
        } catch (const std::exception& failure) {
            fail(UZP_INTERNAL_ERROR, failure.what(), true);
        }
    }

    void fail(int32_t code, const std::string& problem, bool stops) {
        m_file.reset();
        m_outcome->failureCode = code;
        m_outcome->problem = problem;
        m_outcome->stopsJob = stops;
        m_stopped = m_stopped || stops;
    }

    std::shared_ptr<const fileio::UniqueFd> m_folder;
    std::string m_name;
    TargetAttributes m_attributes;
    std::optional<Outcome> m_outcome;
    std::unique_ptr<PendingFile> m_file;
    bool m_dropped = false;
    // After a fault that ends the job nothing more is written.
    bool m_stopped = false;
};

FileWriter::FileWriter(std::size_t bufferSize) : m_bufferSize(bufferSize) {
    m_thread = std::thread([this] { run(); });
}

FileWriter::~FileWriter() {
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_workArrived.notify_one();
    m_thread.join();
}

void FileWriter::push(Command command, bool wake) {
    bool writerWaiting = false;
    {
        const std::lock_guard lock(m_mutex);
        m_commands.push_back(std::move(command));
        writerWaiting = m_writerWaiting;
    }
    if (wake && writerWaiting) {
        m_workArrived.notify_one();
    }
}

void FileWriter::begin(std::shared_ptr<const fileio::UniqueFd> folder, const std::string& name,
                       const TargetAttributes& attributes, const EntryInfo& entry,
                       std::string line) {
    Command command;
    command.step = Step::Begin;
    command.folder = std::move(folder);
    command.name = name;
    command.attributes = attributes;
    command.outcome = Outcome{entry, std::move(line), std::nullopt, {}, false};
    // The writing thread is woken with the data that follows.
    const std::lock_guard lock(m_mutex);
    m_commands.push_back(std::move(command));
    ++m_filesInTransit;
}

FileWriter::Buffer FileWriter::emptyBuffer() {
    std::unique_lock lock(m_mutex);
    if (m_freeBuffers.empty() && m_buffersMade < bufferCount && !m_broken) {
        ++m_buffersMade;
        lock.unlock();
        return std::make_unique_for_overwrite<char[]>(m_bufferSize);
    }
    if (m_freeBuffers.empty()) {
        m_callerWaiting = true;
        if (m_writerWaiting) {
            m_workArrived.notify_one();
        }
        m_workDone.wait(lock, [this] { return !m_freeBuffers.empty() || m_broken; });
        m_callerWaiting = false;
    }
    if (m_broken) {
        throw JobStop(UZP_INTERNAL_ERROR, "the thread writing the files failed");
    }
    Buffer buffer = std::move(m_freeBuffers.back());
    m_freeBuffers.pop_back();
    return buffer;
}

void FileWriter::write(Buffer buffer, std::size_t length) {
    if (length == 0) {
        const std::lock_guard lock(m_mutex);
        m_freeBuffers.push_back(std::move(buffer));
        return;
    }
    Command command;
    command.data = std::move(buffer);
    command.length = length;
    push(std::move(command), true);
}

void FileWriter::write(std::string_view data) {
    while (!data.empty()) {
        Buffer buffer = emptyBuffer();
        const std::size_t length = std::min(data.size(), m_bufferSize);
        std::copy_n(data.data(), length, buffer.get());
        data.remove_prefix(length);
        write(std::move(buffer), length);
    }
}

void FileWriter::end(bool complete) {
    Command command;
    command.step = Step::End;
    command.complete = complete;
    push(std::move(command), true);
}

std::vector<FileWriter::Outcome> FileWriter::collect(bool wait) {
    std::unique_lock lock(m_mutex);
    if (wait && m_filesInTransit != 0) {
        m_callerWaiting = true;
        if (m_writerWaiting) {
            m_workArrived.notify_one();
        }
        m_workDone.wait(lock, [this] { return m_filesInTransit == 0 || m_broken; });
        m_callerWaiting = false;
    }
    std::vector<Outcome> outcomes = std::move(m_outcomes);
    m_outcomes.clear();
    if (m_broken && !m_brokenReported) {
        m_brokenReported = true;
        Outcome failure;
        failure.failureCode = UZP_INTERNAL_ERROR;
        failure.problem = "the thread writing the files failed";
        failure.stopsJob = true;
        outcomes.push_back(std::move(failure));
    }
    return outcomes;
}

// Should the writing thread itself fail, the calling thread learns of it
// instead of waiting for it forever.
void FileWriter::run() {
    try {
        serve();
    } catch (...) {
        const std::lock_guard lock(m_mutex);
        m_broken = true;
    }
    m_workDone.notify_all();
}

// Takes every queued command at once, and hands back buffers and outcomes
// in one step after them.
void FileWriter::serve() {
    Work work;
    std::deque<Command> batch;
    std::vector<Buffer> usedBuffers;
    std::vector<Outcome> outcomes;
    std::size_t filesEnded = 0;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            for (Buffer& buffer : usedBuffers) {
                m_freeBuffers.push_back(std::move(buffer));
            }
            for (Outcome& outcome : outcomes) {
                m_outcomes.push_back(std::move(outcome));
            }
            m_filesInTransit -= filesEnded;
            const bool callerWaiting = m_callerWaiting && (!usedBuffers.empty() || filesEnded != 0);
            usedBuffers.clear();
            outcomes.clear();
            filesEnded = 0;
            if (callerWaiting) {
                m_workDone.notify_one();
            }
            m_writerWaiting = true;
            m_workArrived.wait(lock, [this] { return m_quit || !m_commands.empty(); });
            m_writerWaiting = false;
            if (m_quit) {
                return;
            }
            batch.swap(m_commands);
        }
        for (Command& command : batch) {
            switch (command.step) {
            case Step::Begin:
                work.begin(command);
                break;
            case Step::Data:
                work.write(command);
                usedBuffers.push_back(std::move(command.data));
                break;
            case Step::End:
                if (std::optional<Outcome> outcome = work.end(command.complete)) {
                    outcomes.push_back(std::move(*outcome));
                }
                ++filesEnded;
                break;
            }
        }
        batch.clear();
    }
}

} // namespace unzip32
