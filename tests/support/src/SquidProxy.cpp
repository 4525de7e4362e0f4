#include "testsupport/SquidProxy.h"

#include "testsupport/ChildProcess.h"

#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace testsupport {

namespace {

// @BUMP@, @ACCESS@ and @TLS@ are filled in here, @FOLDER@ and @PORT@ by
// SquidProcess. No port rules: the test servers listen on any port.
const char* const proxyTemplate = R"(http_port 127.0.0.1:@PORT@ @BUMP@
acl CONNECT method CONNECT
@ACCESS@
@TLS@
cache deny all
logformat brief %>Hs %<st "%{Range}>h" %rm %ru %un
)";

const char* const signInLines =
    R"(auth_param basic program /usr/lib/squid/basic_ncsa_auth @FOLDER@/passwords
auth_param basic realm updater test proxy
acl signedIn proxy_auth REQUIRED
http_access allow signedIn
http_access deny all)";

const char* const bumpLines =
    R"(sslcrtd_program /usr/lib/squid/security_file_certgen -s @FOLDER@/certificates -M 4MB
sslcrtd_children 2 startup=1 idle=1
acl step1 at_step SslBump1
ssl_bump peek step1
ssl_bump bump all
tls_outgoing_options cafile=@FOLDER@/origins.pem)";

// Runs a helper program to its end; raises with what it printed otherwise.
void runToEnd(const std::vector<std::string>& command, const std::string& output) {
    ChildProcess child(command, output);
    if (child.exitStatusWithin(std::chrono::seconds(30)) != 0) {
        throw std::runtime_error(command.front() + " failed: " + readFile(output));
    }
}

} // namespace

SquidProxy::SquidProxy() : SquidProxy(Options()) {}

SquidProxy::SquidProxy(const Options& options) : m_options(options) {
    const bool signIn = !options.user.empty();
    const bool bump = options.bumpAuthority != nullptr;
    if (signIn) {
        writePasswords();
    }
    if (bump) {
        makeCertificateStore();
    }
    startSquid(filled(proxyTemplate, {{"@BUMP@", bump ? "ssl-bump tls-cert=@FOLDER@/bump.pem "
                                                        "tls-key=@FOLDER@/bump.key "
                                                        "generate-host-certificates=on "
                                                        "dynamic_cert_mem_cache_size=4MB"
                                                      : ""},
                                      {"@ACCESS@", signIn ? signInLines : "http_access allow all"},
                                      {"@TLS@", bump ? bumpLines : ""}}));
}

std::string SquidProxy::url(bool withCredentials) const {
    const std::string credentials =
        withCredentials ? m_options.user + ":" + m_options.password + "@" : "";
    return "http://" + credentials + host();
}

void SquidProxy::writePasswords() const {
    const std::string hashed = folder() / "hashed.out";
    runToEnd({"openssl", "passwd", "-apr1", m_options.password}, hashed);
    writeFile(folder() / "passwords", m_options.user + ":" + readFile(hashed));
}

// The authority's files and the store of certificates made with it, in the
// proxy's own folder so that the proxy's user may read them.
void SquidProxy::makeCertificateStore() const {
    namespace fs = std::filesystem;
    fs::copy_file(m_options.bumpAuthority->certificate(), folder() / "bump.pem");
    fs::copy_file(m_options.bumpAuthority->key(), folder() / "bump.key");
    fs::copy_file(m_options.trustedOrigins, folder() / "origins.pem");
    runToEnd({"/usr/lib/squid/security_file_certgen", "-c", "-s", folder() / "certificates", "-M",
              "4MB"},
             folder() / "certgen.out");
}

} // namespace testsupport
