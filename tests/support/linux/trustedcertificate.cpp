#include "trustedcertificate.h"

#include <cstdlib>

// OpenSSL reads its default trust store's file from SSL_CERT_FILE when a
// session is made.
CTrustedTestCertificate::CTrustedTestCertificate(const char* pszPemFile) {
    if (setenv("SSL_CERT_FILE", pszPemFile, 1) != 0) {
        m_reason = "setenv(SSL_CERT_FILE) failed";
    }
}

CTrustedTestCertificate::~CTrustedTestCertificate() {
    unsetenv("SSL_CERT_FILE");
}

bool CTrustedTestCertificate::IsTrusted(std::string* pReason) const {
    *pReason = m_reason;
    return m_reason.empty();
}
