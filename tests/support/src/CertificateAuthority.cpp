#include "testsupport/CertificateAuthority.h"

#include "testsupport/ChildProcess.h"

#include <chrono>
#include <stdexcept>
#include <vector>

namespace testsupport {

namespace {

// Long enough for any run, short enough that a file left behind is no key
// to anything for long.
const char* const validDays = "2";

void runOpenssl(const std::vector<std::string>& arguments, const std::string& folder) {
    std::vector<std::string> command{"openssl"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const std::string output = folder + "/openssl.out";
    ChildProcess openssl(command, output);
    if (openssl.exitStatusWithin(std::chrono::seconds(30)) != 0) {
        throw std::runtime_error("openssl " + arguments.front() + " failed: " + readFile(output));
    }
}

} // namespace

CertificateAuthority::CertificateAuthority(const std::string& name) : m_name(name) {
    runOpenssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key(), "-out",
                certificate(), "-days", validDays, "-subj", "/CN=" + name, "-addext",
                "basicConstraints=critical,CA:TRUE", "-addext",
                "keyUsage=critical,keyCertSign,cRLSign"},
               m_folder.path());
}

CertificateAuthority::Issued CertificateAuthority::loopbackServer() const {
    const Issued issued{m_folder / "loopback.pem", m_folder / "loopback.key"};
    if (exists(issued.certificate)) {
        return issued;
    }
    const std::string request = m_folder / "loopback.csr";
    const std::string extensions = m_folder / "loopback.ext";
    writeFile(extensions, "subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost\n"
                          "basicConstraints=CA:FALSE\n"
                          "keyUsage=critical,digitalSignature,keyEncipherment\n"
                          "extendedKeyUsage=serverAuth\n");
    runOpenssl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", issued.key, "-out", request,
                "-subj", "/CN=127.0.0.1"},
               m_folder.path());
    runOpenssl({"x509", "-req", "-in", request, "-CA", certificate(), "-CAkey", key(),
                "-CAcreateserial", "-out", issued.certificate, "-days", validDays, "-extfile",
                extensions},
               m_folder.path());
    return issued;
}

} // namespace testsupport
