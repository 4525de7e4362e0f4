#include "ListingHandler.h"

#include "EntryLines.h"

#include <cstdio>
#include <ctime>

namespace unzip32 {

namespace {

char kindLetter(EntryKind kind) {
    switch (kind) {
    case EntryKind::Folder:
        return 'd';
    case EntryKind::SymbolicLink:
        return 'l';
    default:
        return '-';
    }
}

} // namespace

void ListingHandler::handle(const EntryInfo& entry) {
    std::tm local{};
    localtime_r(&entry.modified, &local);
    const auto month = static_cast<uint32_t>(local.tm_mon + 1);
    const auto day = static_cast<uint32_t>(local.tm_mday);
    const auto year = static_cast<uint32_t>(local.tm_year + 1900);
    const auto hour = static_cast<uint32_t>(local.tm_hour);
    const auto minute = static_cast<uint32_t>(local.tm_min);
    m_context.callbacks.reportListedEntry(
        saturated32(entry.size), saturated32(entry.compressedSize),
        compressionPercent(entry.size, entry.compressedSize), month, day, year, hour, minute,
        kindLetter(entry.kind), entry.name.c_str(), methodName(entry.compressionMethod), entry.crc,
        static_cast<char>(entry.encrypted() ? 1 : 0));

    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u", year, month, day, hour, minute);
    m_context.reporter.info(entryLine(stamp, entry.name, entry, m_context.settings.verbose));
    m_context.outcomes.processed(entry);
}

} // namespace unzip32
