#include "EntryWorkers.h"

#include "EntryStream.h"
#include "JobError.h"
#include "ResultText.h"
#include "WriteBehind.h"
#include "fileio/Processors.h"
#include "unzip32.h"

#include <algorithm>
#include <utility>

namespace unzip32 {

namespace {

// Files waiting to be put in place behind a large one keep every thread
// busy; their bytes stay on the disk, not in memory, and are held to what
// the room check counts for them.
constexpr std::size_t filesPerThread = 4;
constexpr std::uint64_t bytesAtOnce = 64ull * 1024 * 1024;
// From this size on, a file is written by a thread of its own while the
// worker inflates the next piece.
constexpr std::uint64_t writtenBehindFrom = 4ull * 1024 * 1024;

} // namespace

FilesAtOnce EntryWorkers::limitsFor(std::size_t threads) {
    return {std::max<std::size_t>(1, threads) * filesPerThread, bytesAtOnce};
}

std::size_t EntryWorkers::threadsAvailable() {
    return fileio::processorsAvailable(mostThreads);
}

EntryWorkers::EntryWorkers(const JobContext& context, std::size_t threads, FilesAtOnce limits)
    : m_context(context), m_limits(limits), m_bufferSize(context.buffer.size()) {
    threads = std::clamp<std::size_t>(threads, 1, mostThreads);
    try {
        for (std::size_t i = 0; i < threads; ++i) {
            m_threads.emplace_back([this] { work(); });
        }
    } catch (...) {
        // Fewer threads than asked for still unpack everything; none at all
        // is the job's failure.
        if (m_threads.empty()) {
            throw;
        }
    }
}

EntryWorkers::~EntryWorkers() {
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_abandon = true;
    m_taskArrived.notify_all();
    for (std::thread& thread : m_threads) {
        thread.join();
    }
    // The slots' files not yet in place are removed as the slots go.
}

void EntryWorkers::submit(Task task) {
    auto slot = std::make_unique<Slot>();
    slot->outcome.entry = task.entry;
    slot->outcome.line = task.line;
    slot->task = std::move(task);
    m_paths.insert(slot->task.path);
    {
        const std::lock_guard lock(m_mutex);
        m_bytesQueued += slot->task.entry.size;
        m_queue.push_back(slot.get());
        m_slots.push_back(std::move(slot));
    }
    m_taskArrived.notify_one();
}

std::vector<EntryWorkers::Outcome> EntryWorkers::makeRoomFor(std::uint64_t size) {
    return placeWhile(true, size, false);
}

std::vector<EntryWorkers::Outcome> EntryWorkers::placeFinished() {
    return placeWhile(false, 0, true);
}

std::vector<EntryWorkers::Outcome> EntryWorkers::placeAll() {
    return placeWhile(true, 0, true);
}

// With all, places every slot (those finished, or with wait every one);
// otherwise, waiting, until a file of size fits the limits.
std::vector<EntryWorkers::Outcome> EntryWorkers::placeWhile(bool wait, std::uint64_t size,
                                                            bool all) {
    std::vector<Outcome> outcomes;
    for (;;) {
        {
            const std::lock_guard lock(m_mutex);
            if (m_slots.empty() || (!wait && !m_slots.front()->done)) {
                break;
            }
            const bool fits =
                m_slots.size() < m_limits.files && m_bytesQueued + size <= m_limits.bytes;
            if (!all && fits) {
                break;
            }
        }
        if (std::optional<Outcome> outcome = placeFirst()) {
            outcomes.push_back(std::move(*outcome));
        }
    }
    return outcomes;
}

std::optional<EntryWorkers::Outcome> EntryWorkers::placeFirst() {
    std::unique_ptr<Slot> slot;
    {
        std::unique_lock lock(m_mutex);
        Slot& first = *m_slots.front();
        if (!first.done) {
            m_callerWaiting = true;
            m_slotDone.wait(lock, [&] { return first.done; });
            m_callerWaiting = false;
        }
        slot = std::move(m_slots.front());
        m_slots.pop_front();
        m_bytesQueued -= slot->task.entry.size;
    }
    m_paths.erase(m_paths.find(slot->task.path));
    if (m_stopped) {
        // Dropped: the file goes with the slot, without an outcome.
        return std::nullopt;
    }
    Outcome& outcome = slot->outcome;
    if (!outcome.failureCode) {
        try {
            slot->file->place(slot->task.name);
        } catch (const EntryFault& fault) {
            outcome.failureCode = fault.code();
            outcome.problem = fault.what();
            outcome.stopsJob = fault.stopsTheJob();
        }
    }
    if (outcome.stopsJob) {
        m_stopped = true;
        m_abandon = true;
    }
    return std::move(outcome);
}

void EntryWorkers::work() {
    // Left unset: a read says how much of it holds data. The spare is
    // made at the first large entry.
    std::unique_ptr<char[]> buffer;
    std::unique_ptr<char[]> spare;
    for (;;) {
        Slot* slot = nullptr;
        {
            std::unique_lock lock(m_mutex);
            m_taskArrived.wait(lock, [this] { return m_quit || !m_queue.empty(); });
            if (m_quit) {
                return;
            }
            slot = m_queue.front();
            m_queue.pop_front();
        }
        try {
            if (!buffer) {
                buffer = std::make_unique_for_overwrite<char[]>(m_bufferSize);
            }
            unpack(*slot, {buffer.get(), m_bufferSize}, spare);
        } catch (const EntryFault& fault) {
            slot->file.reset();
            slot->outcome.failureCode = fault.code();
            slot->outcome.problem = fault.what();
            slot->outcome.stopsJob = fault.stopsTheJob();
        } catch (const std::bad_alloc&) {
            slot->file.reset();
            slot->outcome.failureCode = UZP_OUT_OF_MEMORY;
            slot->outcome.problem = resultText(UZP_OUT_OF_MEMORY);
            slot->outcome.stopsJob = true;
        } catch (const std::exception& failure) {
            slot->file.reset();
            slot->outcome.failureCode = UZP_INTERNAL_ERROR;
            slot->outcome.problem = failure.what();
            slot->outcome.stopsJob = true;
        }
        bool callerWaiting = false;
        {
            const std::lock_guard lock(m_mutex);
            slot->done = true;
            callerWaiting = m_callerWaiting;
        }
        if (callerWaiting) {
            m_slotDone.notify_one();
        }
    }
}

// Only entries that need nothing of the calling thread come here: not
// encrypted (no password to ask), stored or deflated (read straight from
// the archive file, not through the archive engine's shared handle).
void EntryWorkers::unpack(Slot& slot, std::span<char> room, std::unique_ptr<char[]>& spare) const {
    if (m_abandon) {
        return;
    }
    const Task& task = slot.task;
    EntryStream stream(m_context, task.entry, m_context.settings.translateLineEnds);
    auto file = std::make_unique<PendingFile>(task.folder->get());
    // Translated pieces live in the stream, not in the room they are read
    // into, and must be written before the next is read.
    std::optional<WriteBehind> behind;
    if (task.entry.size >= writtenBehindFrom && !m_context.settings.translateLineEnds) {
        try {
            behind.emplace(*file);
            if (!spare) {
                spare = std::make_unique_for_overwrite<char[]>(room.size());
            }
        } catch (const std::system_error&) {
            // No thread to spare: written here, between the pieces.
        }
    }
    // Written behind, each piece is read into the room the piece before
    // was not.
    const std::span<char> rooms[2] = {room, behind ? std::span(spare.get(), room.size()) : room};
    std::size_t next = 0;
    for (std::string_view piece = stream.next(rooms[next]); !piece.empty();
         piece = stream.next(rooms[next])) {
        if (m_abandon) {
            return;
        }
        if (behind) {
            behind->write(piece);
            next ^= 1;
        } else {
            file->write(piece);
        }
    }
    if (behind) {
        behind->finish();
    }
    file->finish(task.attributes);
    slot.file = std::move(file);
}

} // namespace unzip32
