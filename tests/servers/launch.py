# What the Python tests share to run servers: free loopback ports, bounded
# waits, and the capture server started (login demo / s3cret) on a port of
# its own, ready, and tied to the test process so that it ends with it.
import ctypes
import os
import random
import signal
import socket
import subprocess
import time

CAPTURE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "capture_smtpd.py")


def die_with_parent():
    ctypes.CDLL("libc.so.6").prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def free_port(kind=socket.SOCK_STREAM):
    """A free port from 20000-32767, below the range given to client sockets."""
    for _ in range(200):
        port = random.randrange(20000, 32768)
        with socket.socket(socket.AF_INET, kind) as s:
            try:
                s.bind(("127.0.0.1", port))
                return port
            except OSError:
                continue
    raise RuntimeError("no free port")


def wait_for(cond, seconds=15):
    end = time.time() + seconds
    while time.time() < end:
        if cond():
            return True
        time.sleep(0.05)
    return cond()


def dns_answers(port, name="ready.test", seconds=15):
    """True once the DNS server on 127.0.0.1:PORT answers a question (any answer), within SECONDS."""
    query = b"\x12\x34\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00" + \
        b"".join(bytes([len(p)]) + p.encode() for p in name.split(".")) + b"\x00\x00\x01\x00\x01"
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(0.1)

        def answered():
            s.sendto(query, ("127.0.0.1", port))
            try:
                return len(s.recv(512)) > 0
            except OSError:
                return False
        return wait_for(answered, seconds)


def start(args):
    """A server process that ends with this process (without the sanitizer runtimes a
    sanitized run preloads into Python: dnsmasq does not start under them)."""
    env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS")}
    return subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=die_with_parent,
                            env=env)


def start_capture(root, port, *extra, host="127.0.0.1"):
    """The capture server on HOST storing under ROOT; extra arguments such as --tls MODE CERT KEY."""
    os.makedirs(root, exist_ok=True)
    if os.path.exists(os.path.join(root, "ready")):  # a second server storing beside the first
        os.remove(os.path.join(root, "ready"))
    server = start(["/usr/bin/python3", CAPTURE, host, str(port), root, "demo", "s3cret", *extra])
    if not wait_for(lambda: os.path.exists(os.path.join(root, "ready"))):
        raise RuntimeError("the capture server did not start")
    return server
