/* Test program: adds a DER certificate to the machine's trusted root store,
 * or removes it again:   trust_root add|remove <certificate.der>
 * Exits with 0, or with the system's error. */
#include <windows.h>
#include <wincrypt.h>

#include <stdio.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: trust_root add|remove <certificate.der>\n");
        return 2;
    }
    HANDLE file = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return (int)GetLastError();
    BYTE bytes[16384];
    DWORD size = 0;
    BOOL read = ReadFile(file, bytes, sizeof bytes, &size, NULL);
    CloseHandle(file);
    if (!read) return (int)GetLastError();
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store) return (int)GetLastError();
    PCCERT_CONTEXT added = NULL;
    DWORD error = 0;
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, bytes, size, CERT_STORE_ADD_REPLACE_EXISTING,
                                          &added))
        error = GetLastError();
    else if (!wcscmp(argv[1], L"remove") && !CertDeleteCertificateFromStore(added))  /* frees the context */
        error = GetLastError();
    else if (wcscmp(argv[1], L"remove"))
        CertFreeCertificateContext(added);
    CertCloseStore(store, 0);
    printf("%ls error=%lu\n", argv[1], error);
    return (int)error;
}
