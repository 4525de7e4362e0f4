#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace publisher {

// What a run has made on the disk that must not outlive it when it is
// stopped: its staging folder, with whatever it holds, and the folders it
// made for the served files, while they are empty. One for the process,
// since a stop ends the whole process.
class RunLeftovers {
public:
    static RunLeftovers& instance();

    // Nothing more to take away there: the run removed it, or serves it.
    void forget(const std::string& path);

    // Held while a folder is made and recorded, so that a stop never comes
    // between the two, and while the served files are replaced, so that it
    // never comes between the package and its version text.
    class Held {
    public:
        explicit Held(RunLeftovers& leftovers);
        // A folder to take away with all it holds.
        void addTree(const std::string& path);
        // A folder to take away only while it is empty.
        void addFolder(const std::string& path);
        // What stands once the hold is let go ("published", "renewed").
        void done(const std::string& what);

    private:
        RunLeftovers& m_leftovers;
        std::unique_lock<std::mutex> m_lock;
    };
    Held hold() { return Held(*this); }

    // For a stop: waits for a commit under way, removes everything, and never
    // lets go, since the process ends next. One line for each folder removed
    // (or that could not be), and what the run had done, if anything.
    struct Stop {
        std::vector<std::string> lines;
        std::string done;
    };
    Stop takeAway();

private:
    struct Item {
        std::string path;
        bool tree = false;
    };

    std::mutex m_mutex;
    std::vector<Item> m_items;
    std::string m_done;
};

} // namespace publisher
