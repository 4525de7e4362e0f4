#pragma once

#include "fileio/SystemCalls.h"

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// What a power cut could leave of a folder tree at any moment of a run, as
// seen through the file seam. A kill keeps everything the kernel has; a
// power cut keeps only what was synced. So the tree on disk is the tree as
// it was when recording began (all of it on disk), changed only by syncs
// since: a file's bytes, mode and times as they were when it was synced, a
// folder's names as they were when it was synced. Bytes written and names
// made, renamed or removed but not yet synced are lost. Every call through
// the seam is one moment a cut can fall before.
class DurableDisk {
public:
    // Takes the tree below root as it is now, but for the top-level entries
    // left out: they are neither watched nor rebuilt.
    DurableDisk(std::string root, std::set<std::string> leftOut);

    // The system's calls, watched; in force while the run is recorded.
    fileio::SystemCalls calls();

    // Calls made so far, syncs among them.
    std::size_t moments() const { return m_moments; }
    std::size_t syncs() const { return m_events.size(); }
    // Syncs made before the given moment; two cuts with the same count
    // leave the same disk.
    std::size_t syncsBefore(std::size_t moment) const;

    // The moment of the first rename to a path that ends in suffix; moments()
    // when there is none.
    std::size_t renameTo(const std::string& suffix) const;

    // Puts at root, in place of whatever is there, the tree a power cut
    // just before call number `moment` (counting from 0) would leave.
    void materialize(std::size_t moment) const;

private:
    // An inode number and which of its lives: numbers are reused.
    using Node = std::pair<ino_t, unsigned>;
    struct Durable {
        char kind = 'f'; // 'f' file, 'd' folder, 'l' link
        std::string content;
        mode_t mode = 0600;
        struct timespec modified {};
        std::map<std::string, Node> entries;
    };
    struct Event {
        std::size_t moment;
        Node node;
        Durable state;
    };

    Node nodeOf(ino_t inode, const struct stat& status);
    void created(int folder, const char* name, int fd);
    Durable read(int fd, const std::string& path, const struct stat& status);
    void takeTree(const std::string& path);
    void synced(std::size_t moment, int fd);
    // The whole tree below path as it is now, on disk from moment on.
    void syncedTree(std::size_t moment, const std::string& path);
    void build(const std::map<Node, Durable>& state, const Node& node, const std::string& path,
               std::map<Node, std::string>& placed) const;

    std::string m_root;
    std::set<std::string> m_leftOut;
    Node m_rootNode;
    std::map<ino_t, unsigned> m_lives;
    unsigned m_nextLife = 1;
    std::map<Node, Durable> m_base;
    std::vector<Event> m_events;
    std::vector<std::pair<std::size_t, std::string>> m_renames;
    std::size_t m_moments = 0;
};
