#pragma once

#include <memory>
#include <string>
#include <vector>

typedef struct x509_st X509;
typedef struct ssl_ctx_st SSL_CTX;

namespace platform::curl {

// Certificate authorities trusted besides the system's store, read once
// from PEM files. A file that is not there adds nothing; one that is there
// but holds no certificate it can read is a fault named to every secure
// request, which then fails rather than trust less than the administrator
// meant.
class ExtraAuthorities {
public:
    explicit ExtraAuthorities(const std::vector<std::string>& files);
    ~ExtraAuthorities();
    ExtraAuthorities(const ExtraAuthorities&) = delete;
    ExtraAuthorities& operator=(const ExtraAuthorities&) = delete;

    // Why the files cannot be used; empty when they can.
    const std::string& fault() const { return m_fault; }
    // Adds them to a secure connection's store.
    void addTo(SSL_CTX* context) const;

private:
    void read(const std::string& file);

    std::vector<X509*> m_certificates;
    std::string m_fault;
};

} // namespace platform::curl
