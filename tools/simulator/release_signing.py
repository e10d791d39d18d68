"""Release signing for the simulator's update files (used by portal.py; not an endpoint module).

An RSA key pair is made with openssl the first time it is needed, in the simulator's process,
together with a self-signed certificate that a test hands to the program in place of the built-in
one. Signatures are RSA PKCS#1 v1.5 over SHA-256, computed here from the key's numbers, over the
message the program verifies:
    "QUORVEL Windows x64\n" version "\n" size "\n" sha256 "\n"
The key never leaves the process: the temporary folder openssl writes it into is removed at once.
"""

import base64
import hashlib
import os
import re
import subprocess
import tempfile

# DER prefix of a DigestInfo holding a SHA-256 digest (PKCS#1 v1.5, RFC 8017 section 9.2).
_SHA256_DIGEST_INFO = bytes.fromhex("3031300d060960864801650304020105000420")


def signed_message(version, size, sha256):
    return ("QUORVEL Windows x64\n%s\n%s\n%s\n" % (version, size, sha256)).encode("utf-8")


def _number(text, label):
    match = re.search(r"^%s:\s*\n((?:\s+[0-9a-f:]+\n)+)" % label, text, re.MULTILINE)
    if not match:
        raise RuntimeError("openssl printed no " + label)
    return int(re.sub(r"[\s:]", "", match.group(1)), 16)


class SigningKey:
    def __init__(self, subject):
        with tempfile.TemporaryDirectory(prefix="release-key-") as folder:
            key = os.path.join(folder, "key.pem")
            certificate = os.path.join(folder, "cert.der")
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256",
                            "-days", "30", "-subj", "/CN=" + subject, "-keyout", key,
                            "-outform", "DER", "-out", certificate],
                           check=True, capture_output=True)
            text = subprocess.run(["openssl", "rsa", "-in", key, "-noout", "-text"],
                                  check=True, capture_output=True, text=True).stdout
            with open(certificate, "rb") as file:
                self.certificate = base64.b64encode(file.read()).decode("ascii")
        self._modulus = _number(text, "modulus")
        self._exponent = _number(text, "privateExponent")

    def sign(self, message):
        """The base64 signature of the message's SHA-256 digest."""
        length = (self._modulus.bit_length() + 7) // 8
        digest_info = _SHA256_DIGEST_INFO + hashlib.sha256(message).digest()
        encoded = (b"\x00\x01" + b"\xff" * (length - len(digest_info) - 3) + b"\x00" +
                   digest_info)
        signature = pow(int.from_bytes(encoded, "big"), self._exponent, self._modulus)
        return base64.b64encode(signature.to_bytes(length, "big")).decode("ascii")
