#pragma once

#include "AccessRights.h"
#include "EntryInfo.h"
#include "JobContext.h"
#include "PendingFile.h"
#include "RoomCheck.h"
#include "fileio/UniqueFd.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace unzip32 {

// Unpacks whole file entries on threads of their own, each reading,
// inflating, checking and writing one entry at a time into a file under a
// temporary name. The calling thread puts the finished files in place in
// the entries' order and reports their outcomes in that order, so that a
// job that stops at an entry leaves no later file in place, and a later
// entry of the same name wins as it would one after another. Memory stays
// bounded: each thread has one read buffer, and a second once it has a
// large entry to write behind (see WriteBehind), whatever the entries'
// sizes.
class EntryWorkers {
public:
    // At most this many threads, however many processors there are.
    static constexpr std::size_t mostThreads = 8;
    // How many files, and how many of their bytes (declared sizes), may
    // wait to be put in place while threads work at once.
    static FilesAtOnce limitsFor(std::size_t threads);
    // The processors this process may run on, up to mostThreads.
    static std::size_t threadsAvailable();

    struct Task {
        EntryInfo entry;
        std::shared_ptr<const fileio::UniqueFd> folder;
        std::string name;
        // Where the file lands below the extraction folder.
        std::string path;
        TargetAttributes attributes;
        // The progress line for the file put in place.
        std::string line;
    };
    struct Outcome {
        EntryInfo entry;
        std::string line;
        // Set when the file could not be unpacked or put in place.
        std::optional<int32_t> failureCode;
        std::string problem;
        bool stopsJob = false;
    };

    EntryWorkers(const JobContext& context, std::size_t threads, FilesAtOnce limits);
    // Stops every thread and drops every file not yet in place.
    ~EntryWorkers();
    EntryWorkers(const EntryWorkers&) = delete;
    EntryWorkers& operator=(const EntryWorkers&) = delete;

    // Puts files in place until one of size bytes fits the limits; their
    // outcomes come back.
    std::vector<Outcome> makeRoomFor(std::uint64_t size);
    // Queues the task; makeRoomFor(its size) must have come first.
    void submit(Task task);
    // Puts the files finished so far in place, without waiting.
    std::vector<Outcome> placeFinished();
    // Puts every file queued in place, waiting for each.
    std::vector<Outcome> placeAll();
    // Whether a file queued and not yet in place lands at path.
    bool lands(const std::string& path) const { return m_paths.count(path) != 0; }
    // Whether an outcome given back stopped the job: nothing more is placed.
    bool stopped() const { return m_stopped; }

private:
    struct Slot {
        Task task;
        std::unique_ptr<PendingFile> file;
        Outcome outcome;
        bool done = false;
    };

    void work();
    void unpack(Slot& slot, std::span<char> room, std::unique_ptr<char[]>& spare) const;
    // Waits for the first slot, puts its file in place and gives its
    // outcome; none once the job has stopped.
    std::optional<Outcome> placeFirst();
    std::vector<Outcome> placeWhile(bool wait, std::uint64_t size, bool all);

    const JobContext& m_context;
    const FilesAtOnce m_limits;
    const std::size_t m_bufferSize;
    std::mutex m_mutex;
    std::condition_variable m_taskArrived;
    std::condition_variable m_slotDone;
    bool m_callerWaiting = false;
    bool m_quit = false;
    // Every slot not yet in place, in the entries' order (the calling
    // thread's), and those no thread has taken yet.
    std::deque<std::unique_ptr<Slot>> m_slots;
    std::deque<Slot*> m_queue;
    std::uint64_t m_bytesQueued = 0;
    std::multiset<std::string> m_paths;
    bool m_stopped = false;
    // Read by the threads between pieces: the job has stopped.
    std::atomic<bool> m_abandon{false};
    std::vector<std::thread> m_threads;
};

} // namespace unzip32
