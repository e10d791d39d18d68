"""Portal endpoints of the provider simulator (client registration, game profiles, update files).
The run reservation of the portal lives in node.py, because the program sends it to the node.

    POST /api/v1/portal/clients             -> 201 {"token": 48 characters of [A-Za-z0-9_-]}
    GET  /api/v1/portal/game-profiles       -> 200 the catalogue
    GET  /pobierz/windows-release.json      -> 200 the release description
    GET  /pobierz/QUORVEL-Sondaro.exe       -> 200 the installer
None of them asks for a bearer; a request that carries "Authorization" anyway is recorded like any
other, so a test can see that none was sent.

Control:
    POST /_sim/portal/config   merges settings (POST /_sim/reset restores the defaults):
        token            the token every registration returns (any JSON value: a test may hand out
                         a bad one)
        catalog          the catalogue object (or any JSON value)
        release          the release description text, served as it is; "release_size": n serves
                         n bytes instead. Left null (the default), the description is made for
                         the installer served: "version" (release_version), "sha256" and "size"
                         of the installer, "platform" "windows-x64" and a "proof" signed with the
                         simulator's own release key (see release_signing.py). The program's
                         built-in key refuses that proof, rightly: only a test that hands the
                         program the simulator's certificate sees the description accepted.
        release_version  the version of the made description (default "9.9.9")
        release_fields   keys that replace the made ones before signing, e.g. {"size": 5}: a
                         description that is signed but does not match the installer
        release_tamper   keys that replace the signed ones after signing (null removes a key):
                         a description whose proof no longer fits
        release_sequence a list of release_fields, one for each description served in turn (the
                         last one stays): the description changes between requests
        installer_size   bytes of the installer (default 4096)
        installer_file   a file served as the installer instead (a path on this machine)
        pace_bps         the update files are sent at this rate (bits per second); 0: full speed
    GET  /_sim/portal/stats    {"registrations": n, "tokens": [...]}
    GET  /_sim/portal/release-key   {"certificate": base64 DER of the release key's certificate}
    POST /_sim/portal/sign     {"version", "size", "sha256"[, "other_key": true]} -> {"proof": ...}
                               signs the message the program verifies, with the release key or
                               with a second key the program is never given
"""

import hashlib
import json
import secrets
import string
import threading
import time

import release_signing
from simulator import Response, json_response

ALPHABET = string.ascii_letters + string.digits + "-_"
DEFAULTS = {
    "token": None,
    # A catalogue the program accepts (every region member a text, a known kind, a revision not
    # below the built-in one), so that the demo shows the server's copy.
    "catalog": {"version": 1, "revision": 2, "profiles": [
        {"name": "Symulowana gra", "processes": ["simgame.exe"],
         "regions": [{"label": "Europa", "host": "localhost", "method": "icmp",
                      "kind": "game_server", "verified": "2026-11-25",
                      "source": "symulator dostawcy"}]}]},
    "release": None,
    "release_size": None,
    "release_version": "9.9.9",
    "release_fields": {},
    "release_tamper": {},
    "release_sequence": [],
    "installer_size": 4096,
    "installer_file": None,
    "pace_bps": 0,
}


def register(app):
    lock = threading.Lock()
    state = {}

    def reset():
        with lock:
            state["config"] = dict(DEFAULTS)
            state["tokens"] = []

    reset()
    app.on_reset(reset)

    # Release keys outlive resets: making one takes a moment, and a test reads the certificate
    # once. "release" is the key a test hands to the program, "other" one it never sees.
    keys = {}

    def reset_release_count():
        with lock:
            state["releases_served"] = 0

    app.on_reset(reset_release_count)

    def signing_key(name):
        with lock:
            if name not in keys:
                keys[name] = release_signing.SigningKey("Tarvisko Simulator " + name.title())
            return keys[name]

    def config():
        with lock:
            return dict(state["config"])

    def paced(data, pace):
        started = time.monotonic()
        sent = 0
        while sent < len(data):
            size = min(16384 if pace else 1 << 20, len(data) - sent)
            if pace:
                delay = started + (sent + size) * 8 / pace - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
            yield data[sent:sent + size]
            sent += size

    def file_response(data, settings):
        return Response(200, paced(data, settings["pace_bps"]),
                        {"Content-Length": str(len(data)),
                         "Content-Type": "application/octet-stream"})

    def clients(request, match):
        settings = config()
        token = settings["token"]
        if token is None:
            token = "".join(secrets.choice(ALPHABET) for _ in range(48))
        with lock:
            state["tokens"].append(token)
        return json_response({"token": token}, 201)

    def game_profiles(request, match):
        return json_response(config()["catalog"])

    def installer_bytes(settings):
        if settings["installer_file"] is not None:
            with open(settings["installer_file"], "rb") as file:
                return file.read()
        size = int(settings["installer_size"])
        return (b"MZ" + bytes(range(256)) * (size // 256 + 1))[:size]

    def made_release(settings, served):
        data = installer_bytes(settings)
        fields = {"version": settings["release_version"],
                  "sha256": hashlib.sha256(data).hexdigest(),
                  "platform": "windows-x64", "size": len(data)}
        fields.update(settings["release_fields"])
        sequence = settings["release_sequence"]
        if sequence:
            fields.update(sequence[min(served, len(sequence) - 1)])
        fields["proof"] = signing_key("release").sign(release_signing.signed_message(
            fields["version"], fields["size"], fields["sha256"]))
        for key, value in settings["release_tamper"].items():
            if value is None:
                fields.pop(key, None)
            else:
                fields[key] = value
        return json.dumps(fields, separators=(",", ":"))

    def release(request, match):
        settings = config()
        with lock:
            served = state.get("releases_served", 0)
            state["releases_served"] = served + 1
        if settings["release_size"] is not None:
            data = (b'{"pad":"' + b"x" * settings["release_size"])[:settings["release_size"]]
        elif settings["release"] is not None:
            data = settings["release"].encode("utf-8")
        else:
            data = made_release(settings, served).encode("utf-8")
        return file_response(data, settings)

    def installer(request, match):
        settings = config()
        return file_response(installer_bytes(settings), settings)

    def control_config(request, match):
        changes = request.json()
        if not isinstance(changes, dict) or any(k not in DEFAULTS for k in changes):
            return json_response({"error": "unknown setting"}, 400)
        with lock:
            state["config"].update(changes)
        return json_response({"ok": True})

    def control_stats(request, match):
        with lock:
            return json_response({"registrations": len(state["tokens"]),
                                  "tokens": list(state["tokens"])})

    def control_release_key(request, match):
        return json_response({"certificate": signing_key("release").certificate})

    def control_sign(request, match):
        fields = request.json()
        key = signing_key("other" if fields.get("other_key") else "release")
        return json_response({"proof": key.sign(release_signing.signed_message(
            fields["version"], fields["size"], fields["sha256"]))})

    app.route("POST", r"/api/v1/portal/clients", clients)
    app.route("GET", r"/api/v1/portal/game-profiles", game_profiles)
    app.route("GET", r"/pobierz/windows-release\.json", release)
    app.route("GET", r"/pobierz/QUORVEL-Sondaro\.exe", installer)
    app.control("POST", "portal/config", control_config)
    app.control("GET", "portal/stats", control_stats)
    app.control("GET", "portal/release-key", control_release_key)
    app.control("POST", "portal/sign", control_sign)
