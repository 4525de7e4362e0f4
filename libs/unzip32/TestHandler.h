#pragma once

#include "EntryHandler.h"
#include "JobContext.h"

namespace unzip32 {

// Reads every entry to its end and checks it; writes nothing.
class TestHandler : public EntryHandler {
public:
    explicit TestHandler(const JobContext& context) : m_context(context) {}
    void handle(const EntryInfo& entry) override;

private:
    const JobContext& m_context;
};

// Writes the data of file entries, one after the other, to standard output.
class StandardOutputHandler : public EntryHandler {
public:
    explicit StandardOutputHandler(const JobContext& context) : m_context(context) {}
    void handle(const EntryInfo& entry) override;

private:
    const JobContext& m_context;
};

} // namespace unzip32
