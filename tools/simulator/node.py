"""Measurement node endpoints of the provider simulator (the node and the portal's run
reservation, which the program sends to the node origin too).

    POST /measure/v1/runs/{sid}                         direct reservation      -> 201 reply
    POST /api/v1/portal/runs/{sid}?profile=capacity|legacy  portal reservation  -> 201 reply
    HEAD {base}/latency                                 -> 204
    GET  {base}/download                                the profile's "bytes"   -> 200
    GET  {base}/status                                  {"download": report}    -> 200
    POST {base}/upload                                  "bytes" octets          -> 200 report
    GET  {base}/blocks/download/{n}?n={count}           count octets            -> 200
    POST {base}/blocks/upload/{n}?n={count}             count octets            -> 204
    POST {base}/commit/{direction}                      -> 200 report
    POST {base}/finish                                  -> 204
{base} is /measure/v1/runs/{sid}. A reservation needs a bearer of 32 or more characters; every
later request needs "Authorization: Bearer <ticket>" of that session (401 otherwise, 404 for a
session never reserved). The reservation reply is {"session_id": sid in lower case, "ticket",
"profile", "node_id", "observed_ip", "accepts_desktop_trace"}. A report is {"bytes": what the node
counted, "duration_ms": from its first to its last byte, "complete": bool}; a whole transfer is
complete when its count equals the profile's "bytes", a windowed one when every block arrived
whole. Payload is served from one zeroed buffer at full speed unless a pace is set.

Control:
    POST /_sim/node/config   merges settings into the node's behaviour (POST /_sim/reset restores
                             the defaults); members:
        profile              the profile every reservation grants (default: whole, 1 MiB,
                             100 Mbit/s, 30 s)
        reply                members merged over the reservation reply (e.g. {"node_id": ""})
        session_id_case      "lower" (default), "upper" or "as_sent" for the reply's session_id
        accepts_desktop_trace  boolean (default false)
        extra_bytes          a download or block body carries this many octets more than asked
        missing_bytes        ... this many fewer (announced and sent)
        report_bytes_delta   added to the "bytes" of every report
        report_complete      forces "complete" in every report
        pace_bps             downloads are sent at this rate (bits per second); 0: full speed
        stall_after_bytes, stall_ms   a download body stops for stall_ms after that many octets
        hold_report_ms       the report of a whole upload or of a commit is sent only this long
                             after the request arrived whole (a node slow to count); a reset or
                             a further config call sends every held report at once
    GET  /_sim/node/stats    {"sessions": {sid: {"reservations", "latency", "download_sent",
                             "upload_received", "blocks": [{"direction", "seq", "n", "bytes",
                             "ticket_ok"}], "commits": {direction: report}, "finished",
                             "held_reports"}}}
"""

import secrets
import threading
import time

from simulator import Response, json_response

BASE = r"/measure/v1/runs/([^/]+)"
PIECE = 1 << 20
ZEROS = bytes(PIECE)
DEFAULTS = {
    "profile": {"mode": "whole", "bytes": 1048576, "rate_bps": 100000000, "deadline_s": 30},
    "reply": {},
    "session_id_case": "lower",
    "accepts_desktop_trace": False,
    "extra_bytes": 0,
    "missing_bytes": 0,
    "report_bytes_delta": 0,
    "report_complete": None,
    "pace_bps": 0,
    "stall_after_bytes": -1,
    "stall_ms": 0,
    "hold_report_ms": 0,
}


class _Counter:
    """Bytes one direction moved, with the time of its first and last byte."""

    def __init__(self):
        self.bytes = 0
        self.first = None
        self.last = None

    def add(self, count):
        now = time.monotonic()
        if self.first is None:
            self.first = now
        self.last = now
        self.bytes += count

    def duration_ms(self):
        return 0.0 if self.first is None else (self.last - self.first) * 1000.0


class _Session:
    def __init__(self, ticket, profile):
        self.ticket = ticket
        self.profile = profile
        self.reservations = 0
        self.latency = 0
        self.download = _Counter()
        self.upload = _Counter()
        self.blocks = []
        self.commits = {}
        self.finished = False
        self.held_reports = 0


class _Node:
    def __init__(self):
        self.lock = threading.Lock()
        self.reset()

    def reset(self):
        self.config = {k: (dict(v) if isinstance(v, dict) else v) for k, v in DEFAULTS.items()}
        self.sessions = {}
        self.release_held()

    def release_held(self):
        """Ends every report hold now running; later holds wait on a fresh event."""
        old = getattr(self, "release", None)
        self.release = threading.Event()
        if old is not None:
            old.set()


def _bearer(request):
    value = request.headers.get("Authorization", "")
    return value[len("Bearer "):] if value.startswith("Bearer ") else ""


def register(app):
    node = _Node()
    app.on_reset(node.reset)

    def report(counter, expected, config, complete):
        forced = config["report_complete"]
        return {"bytes": counter.bytes + config["report_bytes_delta"],
                "duration_ms": counter.duration_ms(),
                "complete": bool(complete) if forced is None else bool(forced)}

    def session_for(request, sid):
        """The session and a refusal (or None)."""
        with node.lock:
            session = node.sessions.get(sid)
        if session is None:
            return None, json_response({"error": "no such run"}, 404)
        if _bearer(request) != session.ticket:
            return None, json_response({"error": "ticket required"}, 401)
        return session, None

    def reserve(request, sid):
        if len(_bearer(request)) < 32:
            return json_response({"error": "bearer token required"}, 401)
        with node.lock:
            config = node.config
            session = node.sessions.get(sid)
            if session is None:
                session = _Session(secrets.token_urlsafe(36), dict(config["profile"]))
                node.sessions[sid] = session
            session.reservations += 1
            case = config["session_id_case"]
            shown = sid.lower() if case == "lower" else sid.upper() if case == "upper" else sid
            reply = {"session_id": shown, "ticket": session.ticket, "profile": session.profile,
                     "node_id": "sim-node-1", "observed_ip": "203.0.113.9",
                     "accepts_desktop_trace": bool(config["accepts_desktop_trace"])}
            reply.update(config["reply"])
        return json_response(reply, 201)

    def payload(count, counter, config):
        """count octets from the zero buffer, paced and stalled as configured."""
        pace = config["pace_bps"]
        stall_at = config["stall_after_bytes"]
        started = time.monotonic()
        sent = 0
        while sent < count:
            if sent == stall_at:
                time.sleep(config["stall_ms"] / 1000.0)
            size = min(PIECE if not pace else 16384, count - sent)
            if stall_at > sent:
                size = min(size, stall_at - sent)
            if pace:
                due = started + (sent + size) * 8 / pace
                delay = due - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
            yield memoryview(ZEROS)[:size]
            sent += size
            with node.lock:
                counter.add(size)

    def hold_report(session):
        """Keeps a report back for hold_report_ms, counting the hold in the session's stats."""
        with node.lock:
            hold_ms = node.config["hold_report_ms"]
            release = node.release
            if hold_ms > 0:
                session.held_reports += 1
        if hold_ms > 0:
            release.wait(hold_ms / 1000.0)

    def body_response(count, counter):
        with node.lock:
            config = dict(node.config)
        count = max(0, count + config["extra_bytes"] - config["missing_bytes"])
        return Response(200, payload(count, counter, config),
                        {"Content-Length": str(count), "Content-Type": "application/octet-stream"})

    def receive(request, counter):
        while True:
            data = request.read(65536)
            if not data:
                return
            with node.lock:
                counter.add(len(data))

    def direct_reservation(request, match):
        return reserve(request, match.group(1))

    def portal_reservation(request, match):
        if request.query.get("profile", [""])[0] not in ("capacity", "legacy"):
            return json_response({"error": "unknown profile"}, 400)
        return reserve(request, match.group(1))

    def latency(request, match):
        session, refusal = session_for(request, match.group(1))
        if refusal:
            return refusal
        with node.lock:
            session.latency += 1
        return Response(204)

    def download(request, match):
        session, refusal = session_for(request, match.group(1))
        if refusal:
            return refusal
        return body_response(int(session.profile.get("bytes", 0)), session.download)

    def status(request, match):
        session, refusal = session_for(request, match.group(1))
        if refusal:
            return refusal
        with node.lock:
            config = dict(node.config)
            expected = int(session.profile.get("bytes", 0))
            return json_response({"download": report(session.download, expected, config,
                                                     session.download.bytes == expected)})

    def upload(request, match):
        session, refusal = session_for(request, match.group(1))
        if refusal:
            return refusal
        receive(request, session.upload)
        hold_report(session)
        with node.lock:
            config = dict(node.config)
            expected = int(session.profile.get("bytes", 0))
            return json_response(report(session.upload, expected, config,
                                        session.upload.bytes == expected))

    def block(request, match):
        session, refusal = session_for(request, match.group(1))
        direction, seq = match.group(2), int(match.group(3))
        try:
            count = int(request.query.get("n", [""])[0])
        except ValueError:
            return json_response({"error": "n required"}, 400)
        if refusal:
            return refusal
        counter = session.download if direction == "download" else session.upload
        entry = {"direction": direction, "seq": seq, "n": count, "bytes": 0}
        with node.lock:
            session.blocks.append(entry)
        if direction == "download":
            with node.lock:
                entry["bytes"] = count
            return body_response(count, counter)
        while True:
            data = request.read(65536)
            if not data:
                break
            with node.lock:
                counter.add(len(data))
                entry["bytes"] += len(data)
        return Response(204)

    def commit(request, match):
        session, refusal = session_for(request, match.group(1))
        if refusal:
            return refusal
        direction = match.group(2)
        hold_report(session)
        with node.lock:
            config = dict(node.config)
            counter = session.download if direction == "download" else session.upload
            blocks = [b for b in session.blocks if b["direction"] == direction]
            whole = all(b["bytes"] == b["n"] for b in blocks)
            result = report(counter, None, config, whole and bool(blocks))
            session.commits[direction] = result
        return json_response(result)

    def finish(request, match):
        session, refusal = session_for(request, match.group(1))
        if refusal:
            return refusal
        with node.lock:
            session.finished = True
        return Response(204)

    def control_config(request, match):
        changes = request.json()
        if not isinstance(changes, dict) or any(k not in DEFAULTS for k in changes):
            return json_response({"error": "unknown setting"}, 400)
        with node.lock:
            node.config.update(changes)
            node.release_held()
        return json_response({"config": node.config})

    def control_stats(request, match):
        with node.lock:
            sessions = {
                sid: {"reservations": s.reservations, "latency": s.latency,
                      "download_sent": s.download.bytes, "upload_received": s.upload.bytes,
                      "blocks": [dict(b) for b in s.blocks], "commits": dict(s.commits),
                      "finished": s.finished, "ticket": s.ticket,
                      "held_reports": s.held_reports}
                for sid, s in node.sessions.items()}
        return json_response({"sessions": sessions})

    app.route("POST", BASE, direct_reservation)
    app.route("POST", r"/api/v1/portal/runs/([^/]+)", portal_reservation)
    app.route("HEAD", BASE + "/latency", latency)
    app.route("GET", BASE + "/download", download)
    app.route("GET", BASE + "/status", status)
    app.route("POST", BASE + "/upload", upload, bulk=True)
    app.route("GET", BASE + r"/blocks/(download)/(\d+)", block)
    app.route("POST", BASE + r"/blocks/(upload)/(\d+)", block, bulk=True)
    app.route("POST", BASE + r"/commit/(download|upload)", commit)
    app.route("POST", BASE + "/finish", finish)
    app.control("POST", "node/config", control_config)
    app.control("GET", "node/stats", control_stats)
