// The release-signing certificate of the published releases (subject "Tarvisko Release Signing",
// RSA 3072): one line of base64 of its DER form. Only its public key is used. The private key is
// kept by whoever publishes the releases and never enters this repository.
//
// It was made with (one command)
//   openssl req -x509 -newkey rsa:3072 -nodes -sha256 -days 7300 -keyout release.key
//     -subj "/CN=Tarvisko Release Signing" -addext keyUsage=digitalSignature -outform DER
//     -out release.der
// and the "proof" of a release description is
//   printf 'QUORVEL Windows x64\n%s\n%s\n%s\n' VERSION SIZE SHA256 |
//     openssl dgst -sha256 -sign release.key | base64 -w0
#include "update/update_system.h"

namespace tarvisko {

const char* const built_in_release_certificate =
    "MIIENDCCApygAwIBAgIUGRE38MGQkVU1DgHCqk7pTjrJmNMwDQYJKoZIhvcNAQELBQAwIzEhMB8GA1UEAwwYVGFydmlza2"
    "8gUmVsZWFzZSBTaWduaW5nMB4XDTI2MTIxMDE4NDcwOFoXDTQ2MTIwNTE4NDcwOFowIzEhMB8GA1UEAwwYVGFydmlza28g"
    "UmVsZWFzZSBTaWduaW5nMIIBojANBgkqhkiG9w0BAQEFAAOCAY8AMIIBigKCAYEApjS8fKeZgL0qcJW1SeAK5fu3DUpBQE"
    "3/Vr1yahOVLBsREvBZXvm2v8Mzta20BbWitT/"
    "0FLUV4TY2JyLXHLYTNTNxp5XY+O08JTVCsdQDnqxFFwVFSHgwtmi4n0KynekzbMqc/"
    "dotDwY59MthDKwaALvBHiL8GhoJ2FFqjyrea75g6H6DH6ro98QB4QaVxDKUb/"
    "swSmAeoVODYBS8DLaBvmMxr1yx8+70dW+7XjhcnHzhG12lAh1PRarNdwlfxl7PIzNopd+"
    "n1KnJ76GAKR85ULMqpuRn6xOgvLvLz3TecxDTIZGAJQ6wHV+CSEG/nVZxZMY5Aap0b/QEsx6tB1IsGdHUf5I1W9nvyM29/"
    "Si42LFV0g8cp2DLfHe3j10PiSIQ7sXNKbIeN6k34JoVEMzPFRDIKF8px9QLr+"
    "o9NT86TkrtummX1vNYs8GPMIDI5PKz0FtcFyKjVAswzFPvq15TSz4UalBnV5+"
    "UdfMz9xMAJ0xzovkeD887UcKnFwOTTErBAgMBAAGjYDBeMB0GA1UdDgQWBBToK+"
    "ssUaWVwwCi3m3qE0YAt0snSjAfBgNVHSMEGDAWgBToK+ssUaWVwwCi3m3qE0YAt0snSjAPBgNVHRMBAf8EBTADAQH/"
    "MAsGA1UdDwQEAwIHgDANBgkqhkiG9w0BAQsFAAOCAYEAmj/5P5FNNEsGtDajBUQ+CpeBUn2zsyBqK1IxXP7iiA0I0e/"
    "eIe1nfZLsHjiKCmjTfDLFPXh6T46Cxda+TB+paqADXXkg4afmgLxlXMr/"
    "RiY9JGk0P5OBgoJYQJPAe3tBq9xFNI1HPogzvPxOeV0qnny+x9+"
    "OZ3AKUvhfpnhifrF8gBlH6Dv2NKJbbHjGKXsutM6Attf44qciyVUZ/euM+odDQU7fYOu2xKPz+NFeOxhwHEKaR/"
    "uxjuFXcqqcl8Y7b+cHvwWL2SLwmFNliAzAwy/"
    "NJ56bHU0TPaXQFBYXh4T7EkjTRkK7Po4VEoMChqHICRdXZrsR0x5kcQ6K7eo7WUpBrs/9/"
    "HvArOywc6TQt2jUJnr4rZRuKoQjo6Qt6q96wVAIEaq30uDvxS3vUifaxQcQP+xQf45+"
    "YihWq2dFqKOjEgUMkEO0n04ok3pLojCzaAnjpYCebCS1L2kQCXKNC5F5zN4+ywAt26GI/"
    "v3AnaZ7rRQKOsmZx4qYVKYMwPq1";

}  // namespace tarvisko
