#include "trustedcertificate.h"

#include <vector>

#include "platform.h"
#include "testfiles.h"

#include <wincrypt.h>

namespace {

// The machine's store: adding to the user's root store would ask the user.
HCERTSTORE OpenMachineRoot() {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
}

bool ChainIsTrusted(PCCERT_CONTEXT pCertificate) {
    CERT_CHAIN_PARA parameters = {};
    parameters.cbSize = sizeof(parameters);
    PCCERT_CHAIN_CONTEXT pChain = nullptr;
    if (!CertGetCertificateChain(nullptr, pCertificate, nullptr, nullptr, &parameters, 0, nullptr,
                                 &pChain)) {
        return false;
    }
    const bool bTrusted = (pChain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_UNTRUSTED_ROOT) == 0;
    CertFreeCertificateChain(pChain);
    return bTrusted;
}

// Wine keeps a deleted root in the registry (its store is a copy made when
// the process first used it): the registry entry goes too.
void DeleteRegistryCopy(PCCERT_CONTEXT pCertificate) {
    BYTE hash[20];
    DWORD cbHash = sizeof(hash);
    if (!CertGetCertificateContextProperty(pCertificate, CERT_SHA1_HASH_PROP_ID, hash, &cbHash)) {
        return;
    }
    WCHAR szKey[128] = L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";
    WCHAR* p = szKey + wcslen(szKey);
    for (DWORD i = 0; i < cbHash; i++, p += 2) {
        swprintf(p, 3, L"%02X", hash[i]);
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, szKey);
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
    } else if (!ChainIsTrusted(pAdded)) {
        m_reason = "a root added now is not trusted in this process (Wine reads its root store "
                   "once per process)";
        DeleteRegistryCopy(pAdded);
        CertDeleteCertificateFromStore(pAdded);
        pAdded = nullptr;
    }
    m_pAdded = const_cast<CERT_CONTEXT*>(pAdded);
    if (hStore) {
        CertCloseStore(hStore, 0);
    }
}

CTrustedTestCertificate::~CTrustedTestCertificate() {
    if (m_pAdded) {
        PCCERT_CONTEXT pAdded = static_cast<PCCERT_CONTEXT>(m_pAdded);
        DeleteRegistryCopy(pAdded);
        CertDeleteCertificateFromStore(pAdded); // frees the context
    }
}

bool CTrustedTestCertificate::IsTrusted(std::string* pReason) const {
    *pReason = m_reason;
    return m_reason.empty();
}
