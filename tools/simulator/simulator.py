#!/usr/bin/env python3
"""Provider simulator: plays the provider's HTTPS servers (upload, measurement node, portal, ...)
for the tests and the demo start. Python 3 standard library only.

Running
-------
    simulator.py --cert server.pem --key server.key [--port 0] [--modules upload,node]
                 [--parent-pid PID] [--listen ADDRESS] [--verbose]

It listens on 127.0.0.1 and, where the host has it, on ::1 with the same port, speaks HTTP/1.1
with keep-alive over real TLS (the certificate names "localhost"), and prints exactly one line
"SIMULATOR_PORT=<port>" on standard output once it accepts connections. It stops on SIGTERM or
SIGINT, and by itself when the process named by --parent-pid is gone. --listen binds one other
address instead of the loopback pair (the throughput benchmark serves a namespace's veth address). tools/simulator/with-simulator
starts it for a test and passes the origin on as TARVISKO_SIMULATOR_ORIGIN.

Modules
-------
Each endpoint family lives in a sibling file (upload.py, ...) with a function `register(app)`.
--modules names the ones to load (comma separated); without it every sibling module that has a
`register` function is loaded. A module uses:
    app.route(method, regex, handler)       handler(request, match) -> Response; the regex must
                                            match the whole path (query excluded)
    app.route(..., bulk=True)               the body is not read before the handler: it reads
                                            request.length bytes with request.read(n) (what it
                                            leaves is discarded); the record keeps only its size
    app.control(method, regex, handler)     same, under the control prefix: regex "upload/sessions"
                                            serves "/_sim/upload/sessions"
    app.on_reset(function)                  called by POST /_sim/reset
    app.lock                                one lock for module state (handlers run in threads)
Request: method, path, query (dict of lists), headers (case-insensitive), body (bytes),
         text() and json() helpers. Response(status, body=b"" | str | dict/list, headers={}).
A Response body may also be an iterable of byte strings, sent as it is produced (large or paced
downloads); the handler then sets "Content-Length" itself, and may announce more or fewer bytes
than it sends.

Control API (same origin, path prefix "/_sim/"; JSON in and out; never faulted or recorded)
-----------------------------------------------------------------------------------------
POST   /_sim/reset        forget faults, recorded requests and every module's state
POST   /_sim/faults       add one fault rule (below); answers {"id": n}
GET    /_sim/faults       the rules with how often each was applied: {"faults": [...]}
DELETE /_sim/faults       remove every rule
GET    /_sim/requests     what was received, oldest first: {"requests": [...]}; "?prefix=/api"
                          keeps the paths that start with it. Each entry: seq, method, path, query,
                          headers (lower-case names), body_size, body (text, or null when not
                          UTF-8), body_base64, status (what was answered, or null when the reply
                          was dropped), fault (id of the rule applied, or null), connection (the
                          number of the TCP connection it came on; numbers are never reused)
GET    /_sim/connections  {"accepted": n}: the TCP connections accepted (since the last reset);
                          a client that keeps its connection alive adds one, not one per request

Fault rule members (all optional except "path"):
    path          the path it applies to
    match         "prefix" (default), "exact" or "regex" (whole path)
    method        only this method
    count         how many requests it applies to before it is used up (default 1; -1 = always)
    probability   chance that a matching request is faulted (default 1.0); with "seed" the
                  choices of this rule are repeatable
    when          "before" (default): the request never reaches the endpoint;
                  "after": the endpoint handles it first, then the fault changes or loses the reply
    status        the status to answer
    headers       extra reply headers, e.g. {"Retry-After": "120"}
    body          reply body text; "body_size": n gives n bytes (the body repeated, or "x")
    delay_ms      wait this long before replying
    drop          "before_reply": close the connection without a reply;
                  "mid_reply": send part of the reply, then close the connection
    choices       a list of fault objects (status/headers/body/body_size/delay_ms/drop/when):
                  one of them, at random, is applied each time the rule fires
The first rule (in order of adding) that matches and fires is applied; a rule that does not
fire (probability) lets the next rules be tried.
"""

import argparse
import base64
import importlib.util
import json
import os
import random
import re
import signal
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler

CONTROL_PREFIX = "/_sim/"
HERE = os.path.dirname(os.path.abspath(__file__))


class Request:
    def __init__(self, method, path, query, headers, body, stream=None, length=0):
        self.method = method
        self.path = path
        self.query = query
        self.headers = headers
        self.body = body
        self.stream = stream  # bulk routes only: the body is read from here
        self.connection = None
        self.connection_number = None
        self.length = length
        self.consumed = 0

    def read(self, size):
        """Bulk routes: up to size bytes of the body; b"" at its end or when the peer left."""
        size = min(size, self.length - self.consumed)
        if size <= 0 or self.stream is None:
            return b""
        data = self.stream.read(size)
        self.consumed += len(data)
        if not data:
            self.consumed = self.length
        if self.connection is not None and hasattr(socket, "TCP_QUICKACK"):
            # Linux leaves quick-ACK mode on its own; while a large body arrives, stay in it, or
            # the client's last segment waits for a delayed ACK on every bulk request.
            try:
                self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
            except OSError:
                pass
        return data

    def drain(self):
        while self.read(1 << 20):
            pass

    def text(self):
        return self.body.decode("utf-8")

    def json(self):
        return json.loads(self.body.decode("utf-8"))


class Response:
    def __init__(self, status, body=b"", headers=None):
        self.status = int(status)
        self.headers = dict(headers or {})
        if isinstance(body, (dict, list)):
            body = json.dumps(body, separators=(",", ":"))
            self.headers.setdefault("Content-Type", "application/json")
        if isinstance(body, str):
            body = body.encode("utf-8")
        self.body = body


def json_response(value, status=200):
    return Response(status, value)


class FaultRule:
    FIELDS = ("status", "headers", "body", "body_size", "delay_ms", "drop", "when")

    def __init__(self, rule_id, fields):
        if not isinstance(fields, dict) or not isinstance(fields.get("path"), str):
            raise ValueError("a fault needs a text member \"path\"")
        self.id = rule_id
        self.fields = fields
        self.path = fields["path"]
        self.match = fields.get("match", "prefix")
        if self.match not in ("prefix", "exact", "regex"):
            raise ValueError("match must be prefix, exact or regex")
        self.regex = re.compile(self.path) if self.match == "regex" else None
        self.method = fields.get("method")
        self.remaining = int(fields.get("count", 1))
        self.probability = float(fields.get("probability", 1.0))
        self.random = random.Random(fields["seed"]) if "seed" in fields else random.Random()
        self.choices = fields.get("choices")
        if self.choices is not None and (not isinstance(self.choices, list) or not self.choices):
            raise ValueError("choices must be a non-empty list")
        for action in self.choices or [fields]:
            if action.get("drop") not in (None, "before_reply", "mid_reply"):
                raise ValueError("drop must be before_reply or mid_reply")
            if action.get("when", "before") not in ("before", "after"):
                raise ValueError("when must be before or after")
        self.applied = 0

    def matches(self, method, path):
        if self.remaining == 0 or (self.method and self.method != method):
            return False
        if self.match == "exact":
            return path == self.path
        if self.match == "regex":
            return self.regex.fullmatch(path) is not None
        return path.startswith(self.path)

    def fire(self):
        """Decides whether this request is faulted; returns the action or None. Caller holds the lock."""
        if self.probability < 1.0 and self.random.random() >= self.probability:
            return None
        if self.remaining > 0:
            self.remaining -= 1
        self.applied += 1
        action = self.random.choice(self.choices) if self.choices else self.fields
        return {k: action[k] for k in self.FIELDS if k in action}

    def describe(self):
        return dict(self.fields, id=self.id, applied=self.applied, remaining=self.remaining)


class App:
    def __init__(self, verbose=False):
        self.lock = threading.RLock()
        self.verbose = verbose
        self._routes = []
        self._bulk = []
        self._controls = []
        self._reset_hooks = []
        self._faults = []
        self._next_fault_id = 1
        self._requests = []
        self._connections = 0
        self._numbered = 0
        self.control("POST", "reset", self._control_reset)
        self.control("GET", "connections",
                     lambda req, m: json_response({"accepted": self.connections()}))
        self.control("GET", "faults", lambda req, m: json_response({"faults": self.faults()}))
        self.control("POST", "faults", self._control_add_fault)
        self.control("DELETE", "faults", self._control_clear_faults)
        self.control("GET", "requests", self._control_requests)

    # Registration, for the modules.
    def route(self, method, pattern, handler, bulk=False):
        self._routes.append((method, re.compile(pattern), handler))
        if bulk:
            self._bulk.append((method, re.compile(pattern)))

    def is_bulk(self, method, path):
        return any(m == method and p.fullmatch(path) for m, p in self._bulk)

    def control(self, method, pattern, handler):
        self._controls.append((method, re.compile(pattern), handler))

    def on_reset(self, function):
        self._reset_hooks.append(function)

    # Faults and the record of requests.
    def add_fault(self, fields):
        with self.lock:
            rule = FaultRule(self._next_fault_id, fields)
            self._next_fault_id += 1
            self._faults.append(rule)
            return rule.id

    def faults(self):
        with self.lock:
            return [rule.describe() for rule in self._faults]

    def count_connection(self):
        """Counts a newly accepted connection; returns its number, which a reset never reuses
        (a kept-alive connection outlives the reset)."""
        with self.lock:
            self._connections += 1
            self._numbered += 1
            return self._numbered

    def connections(self):
        with self.lock:
            return self._connections

    def reset(self):
        with self.lock:
            self._faults.clear()
            self._requests.clear()
            self._connections = 0
            for hook in self._reset_hooks:
                hook()

    def pick_fault(self, method, path):
        with self.lock:
            for rule in self._faults:
                if rule.matches(method, path):
                    action = rule.fire()
                    if action is not None:
                        return rule.id, action
        return None, None

    def record(self, request, fault_id):
        body = request.body
        try:
            text = body.decode("utf-8") if request.stream is None else None
        except UnicodeDecodeError:
            text = None
        entry = {
            "method": request.method,
            "path": request.path,
            "query": request.query,
            "headers": {k.lower(): v for k, v in request.headers.items()},
            "body_size": len(body) if request.stream is None else request.length,
            "body": text,
            "body_base64": base64.b64encode(body).decode("ascii"),
            "status": None,
            "fault": fault_id,
            "connection": request.connection_number,
        }
        with self.lock:
            entry["seq"] = len(self._requests) + 1
            self._requests.append(entry)
        return entry

    def _control_reset(self, request, match):
        self.reset()
        return json_response({"ok": True})

    def _control_add_fault(self, request, match):
        try:
            return json_response({"id": self.add_fault(request.json())})
        except (ValueError, TypeError, KeyError, re.error) as error:
            return json_response({"error": str(error)}, 400)

    def _control_clear_faults(self, request, match):
        with self.lock:
            self._faults.clear()
        return json_response({"ok": True})

    def _control_requests(self, request, match):
        prefix = request.query.get("prefix", [""])[0]
        with self.lock:
            chosen = [dict(e) for e in self._requests if e["path"].startswith(prefix)]
        return json_response({"requests": chosen})

    # Dispatch.
    @staticmethod
    def _find(table, method, path):
        allowed = False
        for route_method, pattern, handler in table:
            match = pattern.fullmatch(path)
            if match:
                if route_method == method:
                    return handler, match, True
                allowed = True
        return None, None, allowed

    def handle_control(self, request):
        handler, match, allowed = self._find(self._controls, request.method,
                                             request.path[len(CONTROL_PREFIX):])
        if handler is None:
            return Response(405 if allowed else 404, {"error": "no such control"})
        return handler(request, match)

    def handle_endpoint(self, request):
        handler, match, allowed = self._find(self._routes, request.method, request.path)
        if handler is None:
            return Response(405 if allowed else 404, {"error": "not found"})
        try:
            return handler(request, match)
        except Exception as error:  # an endpoint bug must show in the test, not kill the thread
            sys.stderr.write(f"simulator: {request.method} {request.path}: {error!r}\n")
            return Response(500, {"error": "simulator endpoint failed"})


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TarviskoSimulator"
    timeout = 120  # an idle keep-alive connection is closed after this

    def log_message(self, fmt, *args):
        if self.server.app.verbose:
            sys.stderr.write("simulator: " + (fmt % args) + "\n")

    def _read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            parts = []
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return b"".join(parts)
                parts.append(self.rfile.read(size))
                self.rfile.readline()
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def _handle(self):
        app = self.server.app
        split = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(split.query)
        if app.is_bulk(self.command, split.path) and "chunked" not in self.headers.get(
                "Transfer-Encoding", "").lower():
            request = Request(self.command, split.path, query, self.headers, b"", self.rfile,
                              int(self.headers.get("Content-Length") or 0))
            request.connection = self.connection
        else:
            request = Request(self.command, split.path, query, self.headers, self._read_body())
        request.connection_number = getattr(self.connection, "tarvisko_number", None)
        if request.path.startswith(CONTROL_PREFIX):
            self._send(app.handle_control(request))
            return
        fault_id, action = app.pick_fault(request.method, request.path)
        entry = app.record(request, fault_id)
        action = action or {}
        if action.get("when", "before") == "after" or not action:
            response = app.handle_endpoint(request)
        else:
            response = Response(action.get("status", 500))
        request.drain()  # a bulk body the endpoint did not read, so the connection stays usable
        if "status" in action:
            response.status = int(action["status"])
        response.headers.update(action.get("headers", {}))
        if "body_size" in action:
            pattern = action.get("body", "x").encode("utf-8") or b"x"
            size = int(action["body_size"])
            response.body = (pattern * (size // len(pattern) + 1))[:size]
        elif "body" in action:
            response.body = action["body"].encode("utf-8")
        if action.get("delay_ms"):
            time.sleep(int(action["delay_ms"]) / 1000.0)
        drop = action.get("drop")
        if drop is None:
            entry["status"] = response.status
        self._send(response, drop)

    do_GET = do_PUT = do_POST = do_DELETE = do_PATCH = do_HEAD = do_OPTIONS = _handle

    def _send(self, response, drop=None):
        if drop == "before_reply":
            self._abort()
            return
        try:
            reason = HTTPStatus(response.status).phrase
        except ValueError:
            reason = "Status"
        headers = dict(response.headers)
        streamed = not isinstance(response.body, (bytes, bytearray))
        headers.setdefault("Content-Length", "0" if streamed else str(len(response.body)))
        head = f"HTTP/1.1 {response.status} {reason}\r\n"
        head += "".join(f"{k}: {v}\r\n" for k, v in headers.items()) + "\r\n"
        if streamed:
            self.wfile.write(head.encode("latin-1"))
            if self.command != "HEAD":
                for piece in response.body:
                    self.wfile.write(piece)
                    if drop == "mid_reply":
                        break
            self.wfile.flush()
            if drop == "mid_reply":
                self._abort()
            return
        data = head.encode("latin-1") + (b"" if self.command == "HEAD" else response.body)
        if drop == "mid_reply":
            # Half of the reply: a cut body, or cut headers when there is no body.
            cut = len(head) + len(response.body) // 2 if response.body else len(head) // 2
            self.wfile.write(data[:cut])
            self.wfile.flush()
            self._abort()
            return
        self.wfile.write(data)
        self.wfile.flush()

    def _abort(self):
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


class _Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    block_on_close = False
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, address, family, app, context):
        self.address_family = family
        self.app = app
        self.context = context
        super().__init__(address, _Handler, bind_and_activate=False)
        if family == socket.AF_INET6:
            self.socket.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
        try:
            self.server_bind()
            self.server_activate()
        except OSError:
            self.server_close()
            raise

    def finish_request(self, request, client_address):
        # The TLS handshake runs here, in the connection's own thread, so that a slow or silent
        # client cannot hold up the accept loop.
        number = self.app.count_connection()
        request.settimeout(30)
        # Clients that send the headers and the body in two writes wait for an ACK between them
        # (Nagle); acknowledging at once keeps every request from costing a delayed-ACK period.
        request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if hasattr(socket, "TCP_QUICKACK"):
            request.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
        try:
            tls = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        try:
            tls.settimeout(_Handler.timeout)
            tls.tarvisko_number = number
            _Handler(tls, client_address, self)
        except (ssl.SSLError, OSError):
            pass
        finally:
            tls.close()

    def handle_error(self, request, client_address):
        if self.app.verbose:
            super().handle_error(request, client_address)


def _load_modules(app, names):
    if names is None:
        names = sorted(f[:-3] for f in os.listdir(HERE)
                       if f.endswith(".py") and f != "simulator.py" and not f.startswith("test"))
        optional = True
    else:
        optional = False
    for name in names:
        path = os.path.join(HERE, name + ".py")
        module_spec = importlib.util.spec_from_file_location("simulator_" + name, path)
        module = importlib.util.module_from_spec(module_spec)
        module_spec.loader.exec_module(module)
        register = getattr(module, "register", None)
        if register is None:
            if optional:
                continue
            raise SystemExit(f"simulator: module {name} has no register(app)")
        register(app)


def _bind(app, context, port):
    """Binds 127.0.0.1 and, where available, ::1 on one port; returns the servers."""
    for _ in range(20):
        v4 = _Server(("127.0.0.1", port), socket.AF_INET, app, context)
        chosen = v4.server_address[1]
        try:
            v6 = _Server(("::1", chosen), socket.AF_INET6, app, context)
            return [v4, v6]
        except OSError as error:
            if port != 0 or error.errno not in (98,):  # 98: the port is taken on ::1 only
                return [v4]  # no IPv6 loopback here
            v4.server_close()
    raise SystemExit("simulator: no port free on both loopback addresses")


def _raise_priority():
    # The clients under test give up after a 4 s receive time-out. When every core is busy (a
    # parallel test run, a loaded CI machine) an interpreter at normal priority can wait longer
    # than that for its turn, and a test fails with a time-out the program never caused. The
    # simulator does little work per request, so running it ahead of the load costs the others
    # little. Without the right to do so (not root) it runs as it is.
    try:
        os.nice(-10)
    except OSError:
        pass


def main(argv=None):
    _raise_priority()
    parser = argparse.ArgumentParser(description="Tarvisko provider simulator")
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--modules")
    parser.add_argument("--parent-pid", type=int)
    parser.add_argument("--listen")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args(argv)

    app = App(verbose=args.verbose)
    _load_modules(app, args.modules.split(",") if args.modules else None)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)

    if args.listen:
        family = socket.AF_INET6 if ":" in args.listen else socket.AF_INET
        servers = [_Server((args.listen, args.port), family, app, context)]
    else:
        servers = _bind(app, context, args.port)
    for server in servers:
        threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2},
                         daemon=True).start()

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *a: stop.set())
    signal.signal(signal.SIGINT, lambda *a: stop.set())
    print(f"SIMULATOR_PORT={servers[0].server_address[1]}", flush=True)
    while not stop.wait(1.0):
        if args.parent_pid:
            try:
                os.kill(args.parent_pid, 0)
            except ProcessLookupError:
                break
    for server in servers:
        server.shutdown()
        server.server_close()
    return 0


if __name__ == "__main__":
    # Modules import "simulator"; let them find this running copy, not load a second one.
    sys.modules.setdefault("simulator", sys.modules[__name__])
    sys.exit(main())
