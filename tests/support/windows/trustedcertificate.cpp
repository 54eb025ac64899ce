#include "trustedcertificate.h"

#include <vector>

#include "platform.h"
#include "testfiles.h"

namespace {

// The machine's store: adding to the user's root store would ask the user.
HCERTSTORE OpenMachineRoot() {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
}

} // namespace

CTrustedTestCertificate::CTrustedTestCertificate(const char* pszPemFile) {
    std::string pem;
    const std::string path = pszPemFile;
    if (!ReadWholeFile(std::wstring(path.begin(), path.end()), &pem)) {
        m_reason = "cannot read " + path;
        return;
    }
    DWORD cbDer = 0;
    if (!CryptStringToBinaryA(pem.c_str(), (DWORD)pem.size(), CRYPT_STRING_BASE64HEADER, nullptr,
                              &cbDer, nullptr, nullptr)) {
        m_reason = "no PEM certificate in " + path;
        return;
    }
    std::vector<BYTE> der(cbDer);
    CryptStringToBinaryA(pem.c_str(), (DWORD)pem.size(), CRYPT_STRING_BASE64HEADER, der.data(),
                         &cbDer, nullptr, nullptr);
    HCERTSTORE hStore = OpenMachineRoot();
    PCCERT_CONTEXT pAdded = nullptr;
    if (!hStore || !CertAddEncodedCertificateToStore(hStore, X509_ASN_ENCODING, der.data(), cbDer,
                                                     CERT_STORE_ADD_REPLACE_EXISTING, &pAdded)) {
        m_reason = "cannot add the certificate to the machine's root store (error " +
                   std::to_string(GetLastError()) + ")";
    }
    m_pAdded = const_cast<CERT_CONTEXT*>(pAdded);
    if (hStore) {
        CertCloseStore(hStore, 0);
    }
}

CTrustedTestCertificate::~CTrustedTestCertificate() {
    if (m_pAdded) {
        // Deleting frees the context.
        CertDeleteCertificateFromStore(static_cast<PCCERT_CONTEXT>(m_pAdded));
    }
}

bool CTrustedTestCertificate::IsTrusted(std::string* pReason) const {
    *pReason = m_reason;
    return m_reason.empty();
}
