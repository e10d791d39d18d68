"""Runs the provider simulator inside a test process, against the project's test CA, and gives
the tests plain HTTPS calls to it and to its control API."""
import http.client
import json
import os
import ssl
import subprocess
import sys
import threading

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
sys.path.insert(0, os.path.join(TOP, "tools", "simulator"))
import simulator  # noqa: E402

CA_DIR = os.path.join(os.environ.get("TARVISKO_BINARY_DIR", os.path.join(TOP, "build")), "test-ca")

app = None
_servers = []
_port = None
_context = None


def start(modules):
    """Serves the named endpoint modules on a free port until stop()."""
    global app, _servers, _port, _context
    subprocess.run([os.path.join(TOP, "tools", "simulator", "make-ca"), CA_DIR], check=True)
    app = simulator.App()
    simulator._load_modules(app, modules)
    server_context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    server_context.load_cert_chain(os.path.join(CA_DIR, "server.pem"), os.path.join(CA_DIR, "server.key"))
    _servers = simulator._bind(app, server_context, 0)
    for server in _servers:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    _port = _servers[0].server_address[1]
    _context = ssl.create_default_context(cafile=os.path.join(CA_DIR, "ca.pem"))


def stop():
    for server in _servers:
        server.shutdown()
        server.server_close()


def port():
    return _port


def connect():
    return http.client.HTTPSConnection("localhost", _port, context=_context, timeout=10)


def call(method, path, body=None, headers=None, conn=None):
    """One request; returns (status, headers, body). Opens its own connection unless given one."""
    own = conn is None
    conn = conn or connect()
    try:
        if isinstance(body, (dict, list)):
            body = json.dumps(body)
        conn.request(method, path, body=body, headers=headers or {})
        reply = conn.getresponse()
        return reply.status, dict(reply.getheaders()), reply.read()
    finally:
        if own:
            conn.close()


def control(method, path, body=None):
    """A call to the control API under /_sim/ that must succeed; returns its JSON answer."""
    status, _, data = call(method, "/_sim/" + path, body)
    assert 200 <= status < 300, (status, data)
    return json.loads(data) if data else None
