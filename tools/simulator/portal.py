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
        release          the release description text; "release_size": n serves n bytes instead
        installer_size   bytes of the installer (default 4096)
        pace_bps         the update files are sent at this rate (bits per second); 0: full speed
    GET  /_sim/portal/stats    {"registrations": n, "tokens": [...]}
"""

import secrets
import string
import threading
import time

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
    "release": '{"version":"9.9.9","sha256":"' + "0" * 64 + '","size":4096}',
    "release_size": None,
    "installer_size": 4096,
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

    def release(request, match):
        settings = config()
        if settings["release_size"] is not None:
            data = (b'{"pad":"' + b"x" * settings["release_size"])[:settings["release_size"]]
        else:
            data = settings["release"].encode("utf-8")
        return file_response(data, settings)

    def installer(request, match):
        settings = config()
        size = int(settings["installer_size"])
        data = (b"MZ" + bytes(range(256)) * (size // 256 + 1))[:size]
        return file_response(data, settings)

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

    app.route("POST", r"/api/v1/portal/clients", clients)
    app.route("GET", r"/api/v1/portal/game-profiles", game_profiles)
    app.route("GET", r"/pobierz/windows-release\.json", release)
    app.route("GET", r"/pobierz/QUORVEL-Sondaro\.exe", installer)
    app.control("POST", "portal/config", control_config)
    app.control("GET", "portal/stats", control_stats)
