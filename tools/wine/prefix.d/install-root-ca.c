/* Adds one DER certificate to the LocalMachine "Root" store of the Wine prefix, so that WinHTTP
   trusts the simulator's test certificate authority. Usage: install-root-ca.exe FILE.der */
#include <stdio.h>
#include <windows.h>
/* after windows.h, which it needs */
#include <wincrypt.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fwprintf(stderr, L"usage: install-root-ca FILE.der\n");
        return 2;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        fwprintf(stderr, L"install-root-ca: cannot open %ls (%lu)\n", argv[1], GetLastError());
        return 1;
    }
    static BYTE data[65536];
    DWORD size = 0;
    BOOL read = ReadFile(file, data, sizeof data, &size, NULL);
    CloseHandle(file);
    if (!read || size == 0 || size == sizeof data) {
        fwprintf(stderr, L"install-root-ca: cannot read %ls\n", argv[1]);
        return 1;
    }
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (store == NULL) {
        fwprintf(stderr, L"install-root-ca: CertOpenStore failed (%lu)\n", GetLastError());
        return 1;
    }
    BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, data, size,
                                                  CERT_STORE_ADD_REPLACE_EXISTING, NULL);
    DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
        fwprintf(stderr, L"install-root-ca: CertAddEncodedCertificateToStore failed (%lu)\n",
                 error);
        return 1;
    }
    return 0;
}
