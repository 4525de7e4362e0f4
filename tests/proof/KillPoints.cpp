#include "KillPoints.h"

#include <algorithm>
#include <set>
#include <sstream>

namespace killproof {

namespace {

const std::string journal = "/.updater-journal";

// The kind of one file call of the instruction stage. The rollback begins
// at its first removal or kept file renamed back, and ends when the log is
// written; the commit is the rename that marks the journal complete and the
// sync of its folder after it.
class CallKinds {
public:
    std::string kindOf(const std::string& call, const std::string& path, const std::string& other) {
        const bool inJournal =
            path.find(journal) != std::string::npos || other.find(journal) != std::string::npos;
        if (path.ends_with("/NoteError.txt")) {
            m_rollingBack = false;
            return "instructions";
        }
        if (call == "rename" && other.ends_with(journal + "/complete")) {
            m_committing = true;
            m_committed = true;
            return "commit";
        }
        if (m_committing) {
            m_committing = call != "close";
            return "commit";
        }
        if (m_committed) {
            // The kept files removed once the update is final.
            return "end";
        }
        if (call == "unlink" || (call == "rename" && path.find(journal) != std::string::npos)) {
            m_rollingBack = true;
        }
        if (m_rollingBack) {
            return "rollback";
        }
        return inJournal ? "journal" : "instructions";
    }

private:
    bool m_committing = false;
    bool m_committed = false;
    bool m_rollingBack = false;
};

class PointChoice {
public:
    explicit PointChoice(const Calibration& calibration) : m_calibration(calibration) {}

    // `count` moments spread over a phase (all of them when it has fewer).
    void phase(const std::string& name, int count) {
        const auto found = m_calibration.phases.find(name);
        if (found == m_calibration.phases.end() || count <= 0) {
            return;
        }
        std::set<long> chosen;
        for (int i = 0; i < count; ++i) {
            chosen.insert(1 + (found->second - 1) * i / std::max(1, count - 1));
        }
        for (long moment : chosen) {
            at(name, {name, moment});
        }
    }
    // `count` of the file calls of a kind, spread over them (all of them
    // when there are fewer).
    void calls(const std::string& kind, int count) {
        const auto found = m_calibration.calls.find(kind);
        if (found == m_calibration.calls.end() || count <= 0) {
            return;
        }
        const std::vector<Moment>& calls = found->second;
        std::set<Moment> chosen;
        for (int i = 0; i < count; ++i) {
            chosen.insert(calls[calls.size() * static_cast<std::size_t>(i) /
                                static_cast<std::size_t>(count)]);
        }
        for (const Moment& moment : chosen) {
            at(kind, moment);
        }
    }
    void unpacking(int count) {
        for (int i = 0; i < count; ++i) {
            const long micros = m_calibration.unzipMicros * i / std::max(1, count - 1);
            m_points.push_back({{"unzip-us", std::to_string(micros)},
                                "unpacking",
                                "unpacking +" + std::to_string(micros) + "us"});
        }
    }
    int callCount(const std::string& kind) const {
        const auto found = m_calibration.calls.find(kind);
        return found == m_calibration.calls.end() ? 0 : static_cast<int>(found->second.size());
    }
    int size() const { return static_cast<int>(m_points.size()); }
    const std::vector<KillPoint>& points() const { return m_points; }

    // Every call of the commit, ten of the end, and the points left in the
    // instruction stage: a third in the journal, the rest in the copies.
    void instructionStage(int total) {
        calls("commit", callCount("commit"));
        calls("end", 10);
        const int left = std::max(0, total - size());
        calls("journal", left / 3);
        calls("instructions", left - left / 3);
    }

private:
    void at(const std::string& kind, const Moment& moment) {
        const std::string where = kind + " @" + moment.first + " " + std::to_string(moment.second);
        m_points.push_back({{"in", moment.first, std::to_string(moment.second)}, kind, where});
    }

    const Calibration& m_calibration;
    std::vector<KillPoint> m_points;
};

} // namespace

std::string Calibration::kindOf(const Moment& moment) const {
    std::string kind = moment.first;
    long latest = 0;
    for (const auto& [callKind, moments] : calls) {
        for (const Moment& call : moments) {
            if (call.first == moment.first && call.second <= moment.second &&
                call.second > latest) {
                latest = call.second;
                kind = callKind;
            }
        }
    }
    return kind;
}

Calibration calibrate(const std::string& countingOutput) {
    Calibration calibration;
    CallKinds kinds;
    std::istringstream lines(countingOutput);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string word;
        words >> word;
        if (word == "phase") {
            std::string name;
            long count = 0;
            words >> name >> count;
            calibration.phases[name] = count;
        } else if (word == "call") {
            Moment moment;
            std::string call;
            std::string path;
            std::string other;
            words >> moment.first >> moment.second >> call >> path >> other;
            if (moment.first == "instructions") {
                calibration.calls[kinds.kindOf(call, path, other)].push_back(moment);
            } else if (moment.first == "end") {
                calibration.calls["end"].push_back(moment);
            }
        } else if (word == "unzip-us") {
            words >> calibration.unzipMicros;
        }
    }
    return calibration;
}

std::vector<KillPoint> wholePackagePoints(const Calibration& calibration, int total) {
    PointChoice choice(calibration);
    choice.phase("version-check", total / 10);
    choice.phase("download", total * 3 / 20);
    choice.unpacking(total * 3 / 20);
    choice.instructionStage(total);
    return choice.points();
}

std::vector<KillPoint> changedFilesPoints(const Calibration& calibration, int total) {
    PointChoice choice(calibration);
    choice.phase("version-check", total / 30);
    for (const char* step : {"tail", "manifest", "hashing"}) {
        choice.phase(step, total / 20);
    }
    choice.phase("linking", total / 10);
    choice.phase("chunks", total / 10);
    choice.phase("gathering", total / 10);
    choice.unpacking(total / 10);
    choice.instructionStage(total);
    return choice.points();
}

std::vector<KillPoint> failingPoints(const Calibration& calibration, int total) {
    PointChoice choice(calibration);
    choice.calls("instructions", total / 4);
    choice.calls("journal", total / 6);
    choice.calls("rollback", total - choice.size());
    return choice.points();
}

} // namespace killproof
