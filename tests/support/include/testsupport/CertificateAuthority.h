#pragma once

#include "testsupport/TempDir.h"

#include <string>

namespace testsupport {

// A certificate authority of its own, made with the openssl command for one
// test and valid for a couple of days, with the certificates it signs for
// servers on loopback. Each file is PEM, in the authority's own folder.
class CertificateAuthority {
public:
    // name: the authority's common name, which a message about a certificate
    // it signed would show.
    explicit CertificateAuthority(const std::string& name);

    const std::string& name() const { return m_name; }
    std::string certificate() const { return m_folder / "authority.pem"; }
    std::string key() const { return m_folder / "authority.key"; }

    struct Issued {
        std::string certificate;
        std::string key;
    };
    // A server certificate for 127.0.0.1, ::1 and localhost, made once.
    Issued loopbackServer() const;

private:
    TempDir m_folder;
    std::string m_name;
};

} // namespace testsupport
