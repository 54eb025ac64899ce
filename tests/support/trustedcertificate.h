// Makes the system trust a test certificate for the lifetime of the object,
// so that a TLS server of the tests passes the certificate check of a real
// session: on Linux, OpenSSL's trust store becomes that certificate alone
// (SSL_CERT_FILE); on Windows, it is added to the machine's root store and
// removed again. Wine reads its root store once per process: there the
// object reports that it cannot make the certificate trusted.
#pragma once

#include <string>

class CTrustedTestCertificate {
public:
    // pszPemFile: the certificate in PEM form.
    explicit CTrustedTestCertificate(const char* pszPemFile);
    ~CTrustedTestCertificate();
    CTrustedTestCertificate(const CTrustedTestCertificate&) = delete;
    CTrustedTestCertificate& operator=(const CTrustedTestCertificate&) = delete;

    // False with the reason when the system cannot be made to trust it.
    bool IsTrusted(std::string* pReason) const;

private:
    std::string m_reason;
    void* m_pAdded = nullptr; // the store's copy (Windows)
};
