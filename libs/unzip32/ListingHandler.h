#pragma once

#include "EntryHandler.h"
#include "JobContext.h"

namespace unzip32 {

// Lists entries through the listing callback; reads no data, writes nothing.
class ListingHandler : public EntryHandler {
public:
    explicit ListingHandler(const JobContext& context) : m_context(context) {}
    void handle(const EntryInfo& entry) override;

private:
    const JobContext& m_context;
};

} // namespace unzip32
