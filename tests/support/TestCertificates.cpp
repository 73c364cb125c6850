#include "TestCertificates.h"

#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

namespace {
const char kOpenssl[] = "/usr/bin/openssl";
}  // namespace

bool TestCertificates::available() { return access(kOpenssl, X_OK) == 0; }

TestCertificates::TestCertificates() {
    dir.write("san.cnf", "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1\n");
    const std::string in = "cd '" + dir.path() + "' && ";
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string script =
        in + kOpenssl + " req -x509" + key + " -keyout ca.key -out ca.pem -days 2 -subj /CN=brivox-test-ca && " +
        kOpenssl + " req" + key + " -keyout server.key -out server.csr -subj /CN=localhost && " + kOpenssl +
        " x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile san.cnf"
        " -out server.pem && cat server.pem server.key > both.pem";
    if (std::system(("(" + script + ") >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("openssl could not make the test certificates");
}
