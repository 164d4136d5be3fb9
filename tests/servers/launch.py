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


def start(args):
    """A server process that ends with this process."""
    return subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)


def start_capture(root, port, *extra, host="127.0.0.1"):
    """The capture server on HOST storing under ROOT; extra arguments such as --tls MODE CERT KEY."""
    os.makedirs(root, exist_ok=True)
    if os.path.exists(os.path.join(root, "ready")):  # a second server storing beside the first
        os.remove(os.path.join(root, "ready"))
    server = start(["/usr/bin/python3", CAPTURE, host, str(port), root, "demo", "s3cret", *extra])
    if not wait_for(lambda: os.path.exists(os.path.join(root, "ready"))):
        raise RuntimeError("the capture server did not start")
    return server
