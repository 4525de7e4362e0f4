#include "http/ExtraAuthorities.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace platform::curl {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

ExtraAuthorities::ExtraAuthorities(const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        read(file);
    }
}

ExtraAuthorities::~ExtraAuthorities() {
    for (X509* certificate : m_certificates) {
        X509_free(certificate);
    }
}

void ExtraAuthorities::read(const std::string& file) {
    struct stat status {};
    if (file.empty() || stat(file.c_str(), &status) != 0) {
        return;
    }
    const std::unique_ptr<std::FILE, FileCloser> in(std::fopen(file.c_str(), "r"));
    std::size_t found = 0;
    while (in) {
        X509* certificate = PEM_read_X509(in.get(), nullptr, nullptr, nullptr);
        if (certificate == nullptr) {
            break;
        }
        m_certificates.push_back(certificate);
        ++found;
    }
    // The end of the file leaves a "no start line" behind, which is no fault.
    ERR_clear_error();
    if (found == 0 && m_fault.empty()) {
        m_fault = "the certificate authorities file " + file +
                  " holds no certificate that can be read (PEM text is expected)";
    }
}

void ExtraAuthorities::addTo(SSL_CTX* context) const {
    X509_STORE* store = SSL_CTX_get_cert_store(context);
    for (X509* certificate : m_certificates) {
        // One already in the system's store is kept once.
        X509_STORE_add_cert(store, certificate);
    }
}

} // namespace platform::curl
