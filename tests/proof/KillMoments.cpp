#include "KillMoments.h"

#include "KillInstallation.h"

#include "testsupport/FailingWrites.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

// Every phase's name, so that the phase can be held in an atomic pointer.
const char* const phaseNames[] = {"version-check", "download",     "tail",   "manifest",
                                  "hashing",       "linking",      "chunks", "gathering",
                                  "unpacking",     "instructions", "end"};
// The changed-files update's steps, in the order a run meets them.
const char* const steps[] = {"tail", "manifest", "hashing", "linking", "chunks", "gathering"};

const char* named(const std::string& name) {
    for (const char* phase : phaseNames) {
        if (name == phase) {
            return phase;
        }
    }
    return "end";
}

int stepOrder(const char* phase) {
    for (int i = 0; i < static_cast<int>(std::size(steps)); ++i) {
        if (phase == steps[i]) {
            return i;
        }
    }
    return -1;
}

std::string stageOf(const std::string& caption) {
    if (caption.empty()) {
        return "version-check";
    }
    if (caption == "Downloading...") {
        return "download";
    }
    if (caption == "Extracting Files") {
        return "unpacking";
    }
    if (caption == "Procesing Updates") {
        return "instructions";
    }
    return "end";
}

[[noreturn]] void killedIn(const char* phase, long moment) {
    std::printf("killed %s %ld\n", phase, moment);
    std::fflush(stdout);
    ::kill(::getpid(), SIGKILL);
    std::abort();
}

} // namespace

KillMoments::KillMoments(Aim aim, platform::UpdaterControls& controls, std::string tempFolder,
                         bool keyed)
    : m_aim(std::move(aim)), m_controls(controls), m_temp(std::move(tempFolder)), m_keyed(keyed),
      m_phase(named("version-check")) {}

bool KillMoments::inTemp(const std::string& path) const {
    return path.starts_with(m_temp + "/");
}

void KillMoments::follow(const std::string& stage) {
    if (stage == m_stage) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (m_stage == "unpacking" && m_unzipMicros == 0) {
        m_unzipMicros =
            std::chrono::duration_cast<std::chrono::microseconds>(now - m_unzipStart).count();
    }
    // The changed-files update begins with the tail; the download begun again
    // after it gave up is the whole package's.
    const bool first = !m_visited.contains("download") && !m_visited.contains("tail");
    m_stage = stage;
    m_phase = stage == "download" && m_keyed && first ? named("tail") : named(stage);
    if (stage == "unpacking" && m_unzipStart == std::chrono::steady_clock::time_point{}) {
        m_unzipStart = now;
        if (m_aim.mode == Mode::unzipDelay) {
            std::thread([this, delay = m_aim.value] {
                std::this_thread::sleep_for(std::chrono::microseconds(delay));
                killedIn(m_phase.load(), 0);
            }).detach();
        }
    }
}

void KillMoments::advance(const char* step) {
    const int now = stepOrder(m_phase.load());
    if (now >= 0 && now < stepOrder(step)) {
        m_phase = step;
    }
}

void KillMoments::opened(const char* path, int flags) {
    follow(stageOf(m_controls.lblMessage().caption()));
    const std::string name = path;
    // The chunk map arrives with the manifest, before the installed files
    // are read.
    if ((name == m_temp + "/morvane.manifest" || name == m_temp + "/morvane.chunks") &&
        (flags & O_CREAT) != 0) {
        advance("manifest");
    } else if (name == m_temp + "/morvane.zip") {
        advance("gathering");
    } else if (name == m_temp + "/" + killproof::chunkedName && (flags & O_CREAT) != 0) {
        advance("chunks");
    } else if (inTemp(name) && (flags & O_CREAT) != 0) {
        advance("linking"); // a copy of an installed file
    } else if (!inTemp(name) && m_phase.load() == named("manifest")) {
        advance("hashing");
    }
}

void KillMoments::pass(const char* call, int fd, const char* path, const char* other) {
    follow(stageOf(m_controls.lblMessage().caption()));
    const std::string kind = call;
    if (kind == "link" && other != nullptr && inTemp(other)) {
        advance("linking");
    } else if (kind == "unlink" && path != nullptr && inTemp(path) &&
               stepOrder(m_phase.load()) >= 0) {
        // Temp emptied: the whole package comes instead.
        m_phase = named("download");
    }
    const char* phase = m_phase.load();
    m_visited.insert(phase);
    const long moment = ++m_moments[phase];
    if (m_aim.mode == Mode::in &&
        (phase == m_aim.phase ? moment == m_aim.value : m_visited.contains(m_aim.phase))) {
        killedIn(phase, moment);
    }
    if (m_aim.mode == Mode::count && (fd >= 0 || path != nullptr)) {
        std::printf("call %s %ld %s %s%s%s\n", phase, moment, call,
                    path != nullptr ? path : testsupport::openFilePath(fd).c_str(),
                    other != nullptr ? " " : "", other != nullptr ? other : "");
    }
}

void KillMoments::report() const {
    if (m_aim.mode == Mode::count) {
        for (const auto& [phase, count] : m_moments) {
            std::printf("phase %s %ld\n", phase.c_str(), count);
        }
        std::printf("unzip-us %ld\n", m_unzipMicros);
    }
    const bool whole = m_visited.contains("download");
    const bool changed = m_visited.contains("linking") || m_visited.contains("chunks") ||
                         m_visited.contains("gathering");
    std::printf("way %s\n", whole ? "whole-package" : changed ? "changed-files" : "none");
}
