#include "Job.h"

#include "Archive.h"
#include "EntryLines.h"
#include "ExtractionHandler.h"
#include "JobError.h"
#include "ListingHandler.h"
#include "TestHandler.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <vector>

namespace unzip32 {

namespace {

// Large enough for few calls into the archive engine, small enough to keep
// memory use modest and independent of the entries' sizes.
constexpr std::size_t readBufferSize = 256 * 1024;
constexpr std::size_t smallestReadBuffer = 16 * 1024;

// The read buffer an archive needs: the largest entry in one piece (and the
// byte past it that shows an entry longer than it says), within the bounds
// above. The file writer's buffers take the same size, so an archive of small
// files does not cost five buffers of a quarter megabyte each. A directory
// that understates a size only cuts the data into more pieces.
std::size_t readBufferSizeFor(const Archive& archive) {
    const uint64_t wanted = archive.largestEntrySize() + 1;
    return static_cast<std::size_t>(
        std::clamp<uint64_t>(wanted, smallestReadBuffer, readBufferSize));
}

std::unique_ptr<EntryHandler> handlerFor(const JobContext& context,
                                         const EntrySelection& selection) {
    switch (context.settings.kind) {
    case JobKind::List:
        return std::make_unique<ListingHandler>(context);
    case JobKind::Test:
        return std::make_unique<TestHandler>(context);
    case JobKind::StandardOutput:
        return std::make_unique<StandardOutputHandler>(context);
    default:
        return std::make_unique<ExtractionHandler>(context, selection);
    }
}

} // namespace

Job::Job(const JobSettings& settings, const EntrySelection& selection, UzpCallbacks& callbacks)
    : m_settings(settings), m_selection(selection), m_callbacks(callbacks),
      m_reporter(callbacks.printMessage, settings.quietLevel) {}

int32_t Job::run() {
    try {
        runEntries();
    } catch (const JobStop& stop) {
        failed({}, stop);
    } catch (const std::bad_alloc&) {
        failed({}, JobStop(UZP_OUT_OF_MEMORY));
    } catch (const std::exception& failure) {
        failed({}, JobStop(UZP_INTERNAL_ERROR, failure.what()));
    }
    fillTotals();
    if (m_result != UZP_OK && m_callbacks.playSound != nullptr) {
        m_callbacks.playSound();
    }
    return m_result;
}

void Job::runEntries() {
    Archive archive(m_settings.archivePath);
    if (m_settings.displayComment) {
        const std::string comment = archive.comment();
        if (!comment.empty()) {
            m_reporter.text(comment);
        }
    }
    if (m_settings.kind == JobKind::StandardOutput) {
        // What the caller has buffered comes before the entries' data.
        std::fflush(stdout);
    }
    // Left unset: a read says how much of it holds data.
    const std::size_t bufferSize = readBufferSizeFor(archive);
    const auto buffer = std::make_unique_for_overwrite<char[]>(bufferSize);
    KnownPassword password;
    const std::span<char> room(buffer.get(), bufferSize);
    const JobContext context{m_settings, m_reporter, m_callbacks, archive, *this, room, password};
    const std::unique_ptr<EntryHandler> handler = handlerFor(context, m_selection);
    handleEntries(archive, *handler);
    handler->settle();
    handler->finish();
    if (m_stopped) {
        return;
    }
    if (m_selection.hasIncludes() && m_selected == 0) {
        m_reporter.error({}, UZP_NO_MATCH);
        noteFailure(UZP_NO_MATCH);
    }
    if (m_settings.verbose) {
        m_reporter.info(std::to_string(m_processed) + " entries, " + std::to_string(m_size) +
                        " bytes (" + std::to_string(m_compressedSize) + " compressed, " +
                        std::to_string(compressionPercent(m_size, m_compressedSize)) + "% saved)");
    }
    if (m_settings.kind == JobKind::Test && m_result == UZP_OK) {
        m_reporter.info("No errors detected in " + m_settings.archivePath);
    }
}

// A fault is reported only after the outcomes of the entries before it, so
// that messages come in the order of the entries.
void Job::handleEntries(Archive& archive, EntryHandler& handler) {
    for (uint64_t index = 0; index < archive.entryCount() && !m_stopped; ++index) {
        std::string name;
        try {
            const EntryInfo entry = archive.entry(index);
            name = entry.name;
            if (!m_selection.selects(entry.name)) {
                continue;
            }
            ++m_selected;
            if (m_callbacks.beforeEntry != nullptr &&
                m_callbacks.beforeEntry(entry.name.c_str(), saturated32(entry.size)) != 0) {
                throw JobStop(UZP_STOPPED_BY_CALLER);
            }
            handler.handle(entry);
        } catch (const EntryFault& fault) {
            handler.settle();
            failed(name, fault);
        }
        m_stopped = m_stopped || handler.stopped();
    }
}

void Job::processed(const EntryInfo& entry) {
    ++m_processed;
    m_size += entry.size;
    m_compressedSize += entry.compressedSize;
}

// The first failure gives the result, unless a later one ends the job.
void Job::failed(const std::string& entryName, const EntryFault& fault) {
    m_reporter.error(entryName, fault.what());
    if (!entryName.empty()) {
        ++m_failed;
    }
    if (fault.stopsTheJob()) {
        m_stopped = true;
        m_result = fault.code();
    } else {
        noteFailure(fault.code());
    }
}

void Job::noteFailure(int32_t code) {
    if (m_result == UZP_OK) {
        m_result = code;
    }
}

void Job::fillTotals() {
    m_callbacks.totalUncompressedBytes = saturated32(m_size);
    m_callbacks.totalCompressedBytes = saturated32(m_compressedSize);
    m_callbacks.totalCompressionPercent = compressionPercent(m_size, m_compressedSize);
    m_callbacks.entriesProcessed = saturated32(m_processed);
    m_callbacks.entriesFailed = static_cast<uint16_t>(
        m_failed > std::numeric_limits<uint16_t>::max() ? std::numeric_limits<uint16_t>::max()
                                                        : m_failed);
}

} // namespace unzip32
