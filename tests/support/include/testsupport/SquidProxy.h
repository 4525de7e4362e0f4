#pragma once

#include "testsupport/CertificateAuthority.h"
#include "testsupport/SquidProcess.h"

#include <string>

namespace testsupport {

// Squid as a forward proxy on 127.0.0.1, as an office's network has one:
// it fetches any address on loopback for its clients and opens a tunnel
// (CONNECT) to any loopback port. It keeps nothing, so that every request
// reaches the origin. Its access log is one line a request: status, bytes
// sent, the Range asked for, method, address, the user who signed in.
class SquidProxy : public SquidProcess {
public:
    struct Options {
        // Basic authentication: only this user with this password is served.
        std::string user;
        std::string password;
        // Opens every secure connection with a certificate this authority
        // signs for the name asked, trusting the origins that trustedOrigins
        // (a PEM file of authorities) signed.
        const CertificateAuthority* bumpAuthority = nullptr;
        std::string trustedOrigins;
    };

    // Plain: anyone is served, secure connections are tunnelled untouched.
    SquidProxy();
    explicit SquidProxy(const Options& options);

    // "http://127.0.0.1:port", with "user:password@" when asked for.
    std::string url(bool withCredentials = false) const;

private:
    void writePasswords() const;
    void makeCertificateStore() const;

    Options m_options;
};

} // namespace testsupport
