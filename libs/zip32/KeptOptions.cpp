#include "KeptOptions.h"

namespace zip32 {

namespace {

std::optional<std::string> copied(const char* text) {
    return text == nullptr ? std::nullopt : std::optional<std::string>(text);
}

} // namespace

KeptOptions::KeptOptions() {
    m_record.encryptionSupported = 1;
}

KeptOptions::KeptOptions(const KeptOptions& other)
    : m_record(other.m_record), m_dateText(other.m_dateText),
      m_rootDirectory(other.m_rootDirectory) {
    aimTexts();
}

KeptOptions& KeptOptions::operator=(const KeptOptions& other) {
    m_record = other.m_record;
    m_dateText = other.m_dateText;
    m_rootDirectory = other.m_rootDirectory;
    aimTexts();
    return *this;
}

void KeptOptions::keep(const ZpOptions& options) {
    m_dateText = copied(options.dateText);
    m_rootDirectory = copied(options.rootDirectory);
    m_record = options;
    m_record.encryptionSupported = 1;
    aimTexts();
}

void KeptOptions::aimTexts() {
    m_record.dateText = m_dateText ? m_dateText->c_str() : nullptr;
    m_record.rootDirectory = m_rootDirectory ? m_rootDirectory->c_str() : nullptr;
}

} // namespace zip32
