#!/usr/bin/python3
"""The vellor tool driven as a user would: argument handling, JSON reports,
a real send through the capture server, and the lookups against dnsmasq.
Usage: test_cli.py PATH-TO-VELLOR"""
import json
import os
import random
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

VELLOR = os.path.abspath(sys.argv.pop(1))
HERE = os.path.dirname(os.path.abspath(__file__))
CAPTURE = os.path.join(HERE, "..", "servers", "capture_smtpd.py")
TLS_SERVER = os.path.join(HERE, "..", "servers", "tls_smtpd.py")
MAKE_CERTS = os.path.join(HERE, "..", "servers", "make_certs.sh")



def die_with_parent():
    """A server this test starts ends when the test process ends, however it ends."""
    import ctypes
    import signal
    ctypes.CDLL("libc.so.6").prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG

def free_port(kind=socket.SOCK_STREAM):
    """A free port from 20000-32767, below the range given to client sockets."""
    for _ in range(200):
        port = random.randrange(20000, 32768)
        s = socket.socket(socket.AF_INET, kind)
        try:
            s.bind(("127.0.0.1", port))
            return port
        except OSError:
            continue
        finally:
            s.close()
    raise RuntimeError("no free port")


def wait_for(cond, seconds=15):
    end = time.time() + seconds
    while time.time() < end:
        if cond():
            return True
        time.sleep(0.05)
    return cond()


class Cli(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="vellor-cli-")
        cls.port = free_port()
        cls.capture = os.path.join(cls.dir, "capture")
        os.makedirs(cls.capture)
        cls.server = subprocess.Popen(["/usr/bin/python3", CAPTURE, "127.0.0.1", str(cls.port), cls.capture,
                                       "demo", "s3cret"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
        assert wait_for(lambda: os.path.exists(os.path.join(cls.capture, "ready")))
        cls.dns_port = free_port(socket.SOCK_DGRAM)
        conf = os.path.join(cls.dir, "dnsmasq.conf")
        with open(conf, "w") as f:
            f.write("no-resolv\nno-hosts\nbind-interfaces\nlisten-address=127.0.0.1\nport=%d\nlocal=/test/\n"
                    "mx-host=cli.test,mx.cli.test,10\nhost-record=mx.cli.test,127.0.0.1\n"
                    "ptr-record=1.0.0.127.in-addr.arpa,mx.cli.test\n" % cls.dns_port)
        args = ["/usr/sbin/dnsmasq", "--conf-file=" + conf, "--keep-in-foreground", "--pid-file="]
        if os.getuid() == 0:
            args.append("--user=root")
        cls.dnsmasq = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
        cls.env = dict(os.environ, VELLORAPI_SYSTEM_DIR=cls.dir, VELLORAPI_REGISTRY=os.path.join(cls.dir, "none.reg"),
                       KORVEXAPI_DNS_SERVERS="127.0.0.1:%d" % cls.dns_port, KORVEXAPI_TIMEOUT_MS="3000")
        cls.env.pop("VELLOR_PASSWORD", None)
        cls.message = os.path.join(cls.dir, "hello.txt")
        with open(cls.message, "w") as f:
            f.write("Subject: cli\r\n\r\nHello from the tool.\r\n")
        time.sleep(0.3)

    @classmethod
    def tearDownClass(cls):
        for p in (cls.server, cls.dnsmasq):
            p.terminate()
            p.wait(timeout=10)
        shutil.rmtree(cls.dir, ignore_errors=True)

    def run_tool(self, *args, stdin=None, env=None):
        return subprocess.run([VELLOR, *args], input=stdin, capture_output=True, text=True, timeout=60,
                              env=env or self.env, stdin=None if stdin is not None else subprocess.DEVNULL)

    def stored(self):
        new = os.path.join(self.capture, "Maildir", "new")
        return sorted(n for n in os.listdir(new) if not n.endswith(".json"))

    def send_args(self, *extra):
        return ["send", "--server-ip", "127.0.0.1", "--port", str(self.port), *extra]

    def test_refusals_send_nothing(self):
        before = len(self.stored())
        pw = os.path.join(self.dir, "missing-password")
        cases = [
            (self.send_args("--to", "a@b.test", "--message", self.message), "senders email address"),
            (self.send_args("--from", "s@x.test", "--to", "a@b.test", "--message", self.message, "--stdin"),
             "not both"),
            (self.send_args("--from", "s@x.test", "--to", "a@b.test", "--message", self.message, "--user", "demo",
                            "--password-file", pw), "cannot read the password file"),
            (self.send_args("--from", "s@x.test", "--message", self.message), "no recipient"),
            (self.send_args("--from", "bad@.x", "--to", "a@b.test", "--message", self.message),
             "senders email address"),
        ]
        for args, text in cases:
            with self.subTest(args=args):
                r = self.run_tool(*args, stdin="")
                self.assertNotEqual(r.returncode, 0)
                self.assertIn(text, r.stderr)
        self.assertEqual(len(self.stored()), before)

    def test_json_reports_and_a_real_send(self):
        before = len(self.stored())
        env = dict(self.env, VELLOR_PASSWORD="s3cret")
        r = self.run_tool(*self.send_args("--from", "s@x.test", "--to", "a@b.test", "--message", self.message,
                                          "--user", "demo", "--json"), env=env)
        self.assertEqual(r.returncode, 0, r.stderr)
        objects = [json.loads(line) for line in r.stdout.splitlines()]
        self.assertEqual(objects[-1]["result"], 0)
        self.assertEqual(objects[-1]["messages_sent"], 1)
        self.assertIn({"status": 922, "code": 0, "text": "Send of 1 message(s) completed"}, objects)
        self.assertEqual(len(self.stored()), before + 1)
        self.assertNotIn("s3cret", r.stdout + r.stderr)

    def test_stdin_list_and_verbose_never_shows_the_password(self):
        before = len(self.stored())
        pw = os.path.join(self.dir, "pw")
        with open(pw, "w") as f:
            f.write("s3cret\n")
        r = self.run_tool(*self.send_args("--from", "s@x.test", "--to", "a@b.test", "--to", "c@d.test", "--stdin",
                                          "--user", "demo", "--password-file", pw, "--verbose"),
                          stdin="Subject: piped\r\n\r\nbody\r\n")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("SENT:", r.stdout)
        self.assertNotIn("s3cret", r.stdout + r.stderr)
        self.assertEqual(len(self.stored()), before + 1)
        with open(os.path.join(self.capture, "Maildir", "new", self.stored()[-1] + ".json")) as f:
            self.assertEqual(json.load(f)["to"], ["a@b.test", "c@d.test"])

    def test_lookups(self):
        r = self.run_tool("mx", "cli.test")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertRegex(r.stdout, r"mx\.cli\.test\s+10\s+127\.0\.0\.1")
        r = self.run_tool("mx", "cli.test", "--names-only")
        self.assertIn("mx.cli.test", r.stdout)
        self.assertNotEqual(self.run_tool("mx", "nothing.test").returncode, 0)
        r = self.run_tool("dns", "mx.cli.test")
        self.assertEqual(r.stdout.strip(), "mx.cli.test\t127.0.0.1")
        r = self.run_tool("dns", "127.0.0.1")
        self.assertEqual(r.returncode, 0, r.stderr)
        r = self.run_tool("dns", "nothing.test")
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("Unable to resolve server name", r.stderr)

    def test_details_and_version(self):
        q = os.path.join(self.dir, "queue")
        os.makedirs(q, exist_ok=True)
        with open(os.path.join(q, "m1.txt"), "w") as f:
            f.write("x")
        with open(os.path.join(q, "m1.env"), "w") as f:
            f.write("MAIL FROM: <s@x.test>\r\nRCPT TO: <a@b.test>\r\nRCPT TO: <c@d.test>\r\n")
        r = self.run_tool("details", q)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("sender:     s@x.test", r.stdout)
        self.assertIn("list:       a@b.test c@d.test", r.stdout)
        r = self.run_tool("version")
        self.assertIn("library   2.61.0.30 build 060125 (Jan 25, 2006), structure revision 450194", r.stdout)

    def test_help_everywhere(self):
        for sub in ([], ["send"], ["mx"], ["dns"], ["details"], ["version"]):
            r = self.run_tool(*sub, "--help")
            self.assertEqual(r.returncode, 0)
            self.assertIn("Usage", r.stdout)

    def test_secure_connection_flags(self):
        certs = os.path.join(self.dir, "certs")
        os.makedirs(certs, exist_ok=True)
        subprocess.run(["bash", MAKE_CERTS, certs], check=True, timeout=60)
        registry = os.path.join(self.dir, "user.reg")
        with open(registry, "w") as f:
            f.write("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\orvane\\vellorapi\\Options]\r\n"
                    "\"UseLogFile\"=dword:00000001\r\n")
        before_reg = open(registry).read()
        cases = [("implicit", ["--tls", "--ca-file", os.path.join(certs, "ca.pem")], 0, 1),
                 ("starttls", ["--starttls", "--ca-file", os.path.join(certs, "ca.pem")], 0, 1),
                 ("nostarttls", ["--starttls"], 69, 0),
                 ("implicit", ["--tls"], 75, 0)]  # the test CA is not trusted without --ca-file
        for mode, flags, code, stored in cases:
            with self.subTest(mode=mode, flags=flags):
                port = free_port()
                root = tempfile.mkdtemp(dir=self.dir)
                server = subprocess.Popen(["/usr/bin/python3", TLS_SERVER, "127.0.0.1", str(port), root,
                                           os.path.join(certs, "server.pem"), os.path.join(certs, "server.key"),
                                           mode, "demo", "s3cret"], stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
                try:
                    self.assertTrue(wait_for(lambda: os.path.exists(os.path.join(root, "ready"))))
                    env = dict(self.env, VELLOR_PASSWORD="s3cret", VELLORAPI_REGISTRY=registry)
                    r = self.run_tool("send", "--server", "localhost", "--server-ip", "127.0.0.1", "--port",
                                      str(port), "--from", "s@x.test", "--to", "a@b.test", "--message",
                                      self.message, "--user", "demo", *flags, env=env)
                    self.assertEqual(r.returncode, code, r.stdout + r.stderr)
                    self.assertEqual(len(os.listdir(os.path.join(root, "Maildir", "new"))), stored)
                    commands = open(os.path.join(root, "commands.txt")).read().split() \
                        if os.path.exists(os.path.join(root, "commands.txt")) else []
                    if code:
                        self.assertNotIn("AUTH", commands)
                        self.assertNotIn("MAIL", commands)
                finally:
                    server.terminate()
                    server.wait(timeout=10)
        self.assertEqual(open(registry).read(), before_reg)  # the user's file is never edited

    # ---- truthful results --------------------------------------------------------

    def queue(self, name, bodies, envelopes=None):
        d = os.path.join(self.dir, name)
        os.makedirs(d, exist_ok=True)
        for i, body in enumerate(bodies):
            with open(os.path.join(d, "m%d.txt" % i), "w") as f:
                f.write(body)
            if envelopes and envelopes[i]:
                with open(os.path.join(d, "m%d.ENV" % i), "w") as f:
                    f.write(envelopes[i])
        return d

    def test_exit_status_tells_what_happened(self):
        closed_port = free_port()
        refused = self.queue("all-refused", ["REFUSE-ME 1\r\n", "REFUSE-ME 2\r\n"])
        base = ["--from", "s@x.test", "--message", self.message]
        cases = [
            ("sent", self.send_args(*base, "--to", "a@b.test"), 0, ""),
            ("all queued mail refused", self.send_args("--from", "s@x.test", "--to", "a@b.test", "--message", refused,
                                                       "--extension", "txt"), 69, "last reply: 554"),
            ("missing queue directory", self.send_args("--from", "s@x.test", "--to", "a@b.test", "--message",
                                                       os.path.join(self.dir, "no-such-dir")), 66, "no such message"),
            ("recipient refused for now", self.send_args(*base, "--to", "later@b.test"), 75, "last reply: 451"),
            ("recipient refused for good", self.send_args(*base, "--to", "refused@b.test"), 69, "last reply: 550"),
            ("connection refused", ["send", "--server-ip", "127.0.0.1", "--port", str(closed_port), *base, "--to",
                                    "a@b.test"], 75, "cause: no connection could be made"),
            ("no exchanger for the domain", ["send", *base, "--to", "a@nomx.test"], 75,
             "cause: no mail exchanger or address found for [nomx.test]"),
            ("login refused", self.send_args(*base, "--to", "a@b.test", "--user", "demo", "--password-file",
                                             self.write("wrong-pw", "nope\n")), 77, "never accepted the login"),
            ("bad sender address", self.send_args("--from", "bad@.x", "--to", "a@b.test", "--message", self.message),
             65, ""),
            ("port that is no number", ["send", "--port", "abc", *base, "--to", "a@b.test"], 64, "--port"),
            ("unknown option", ["send", "--no-such-flag"], 64, ""),
        ]
        for name, args, code, text in cases:
            with self.subTest(name):
                r = self.run_tool(*args)
                self.assertEqual(r.returncode, code, r.stdout + r.stderr)
                self.assertIn(text, r.stderr)
        r = self.run_tool("--version")
        self.assertEqual(r.returncode, 0)
        self.assertIn("2.61.0.30", r.stdout)

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def test_json_carries_the_last_reply_and_verbose_shows_the_dialogue_masked(self):
        r = self.run_tool(*self.send_args("--from", "s@x.test", "--to", "refused@b.test", "--message", self.message,
                                          "--json"))
        summary = json.loads(r.stdout.splitlines()[-1])
        self.assertEqual(summary["exit"], 69)
        self.assertEqual(summary["last_reply"]["code"], 550)
        env = dict(self.env, VELLOR_PASSWORD="s3cret")
        r = self.run_tool(*self.send_args("--from", "s@x.test", "--to", "a@b.test", "--message", self.message,
                                          "--user", "demo", "--verbose"), env=env)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("C: AUTH LOGIN", r.stderr)
        self.assertIn("C: ****", r.stderr)
        self.assertIn("S: 235", r.stderr)
        for secret in ("s3cret", "czNjcmV0", "ZGVtbw=="):
            self.assertNotIn(secret, r.stdout + r.stderr)

    def test_a_silent_server_is_named_as_the_cause(self):
        silent = socket.socket()
        silent.bind(("127.0.0.1", 0))
        silent.listen(1)
        try:
            r = self.run_tool("send", "--server-ip", "127.0.0.1", "--port", str(silent.getsockname()[1]), "--from",
                              "s@x.test", "--to", "a@b.test", "--message", self.message, "--timeout", "1")
        finally:
            silent.close()
        self.assertEqual(r.returncode, 75, r.stderr)
        self.assertIn("cause: the server did not answer within the time-out", r.stderr)

    # ---- guards ----------------------------------------------------------------

    def test_paths_go_by_what_they_are_on_disk(self):
        before = len(self.stored())
        eml = self.write("note.eml", "Subject: eml\r\n\r\nan eml file\r\n")
        txtqueue = self.queue("txtqueue", ["Subject: q1\r\n\r\none\r\n", "Subject: q2\r\n\r\ntwo\r\n"])
        for path, count in ((eml, 1), (txtqueue, 2)):
            with self.subTest(path):
                r = self.run_tool(*self.send_args("--from", "s@x.test", "--to", "a@b.test", "--message", path,
                                                  "--extension", "txt" if count == 2 else ""))
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(len(self.stored()), before + 3)

    def test_envelope_queue_needs_every_envelope(self):
        before = len(self.stored())
        d = self.queue("envq", ["one\r\n", "two\r\n", "three\r\n"],
                       [None, "MAIL FROM: <q@x.test>\r\nRCPT TO: <r@b.test>\r\n", None])
        r = self.run_tool(*self.send_args("--message", d, "--envelope", "--delete"))
        self.assertEqual(r.returncode, 66)
        self.assertIn("no .ENV file for m0.txt and 1 more", r.stderr)
        self.assertEqual(len(self.stored()), before)
        self.assertEqual(sorted(os.listdir(d)), ["m0.txt", "m1.ENV", "m1.txt", "m2.txt"])

    def test_work_files_of_the_user_are_left_alone(self):
        work = tempfile.mkdtemp(dir=self.dir)
        for name in ("userid.txt", "userpw.txt", "userid.mim"):
            with open(os.path.join(work, name), "w") as f:
                f.write("mine")
        env = dict(self.env, VELLOR_PASSWORD="s3cret")
        r = subprocess.run([VELLOR, *self.send_args("--from", "s@x.test", "--to", "a@b.test", "--message",
                                                    self.message, "--user", "demo")],
                           cwd=work, env=env, capture_output=True, text=True, timeout=60, stdin=subprocess.DEVNULL)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(os.listdir(work)), ["userid.mim", "userid.txt", "userpw.txt"])

    def test_stdin_lines_are_stuffed_and_get_crlf_unless_raw(self):
        text = "Subject: dots\n\nbefore\n.\nMAIL FROM:<spoof@x.test>\nafter\n"
        before = self.stored()
        r = self.run_tool(*self.send_args("--from", "s@x.test", "--to", "a@b.test", "--stdin"), stdin=text)
        self.assertEqual(r.returncode, 0, r.stderr)
        new = [n for n in self.stored() if n not in before]
        with open(os.path.join(self.capture, "Maildir", "new", new[0]), "rb") as f:
            self.assertEqual(f.read(), text.replace("\n", "\r\n").encode() + b"\r\n")
        r = self.run_tool(*self.send_args("--from", "s@x.test", "--to", "a@b.test", "--stdin", "--raw"), stdin=text)
        self.assertEqual(r.returncode, 65, r.stderr)
        self.assertEqual(len(self.stored()), len(before) + 1)

    def test_options_file_problems_are_reported(self):
        bad = self.write("bad.reg", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\orvane\\vellorapi\\Options]\r\n"
                                    "\"UseLogFile\"=dword:zz\r\n")
        nohead = self.write("nohead.reg", "just text\r\n")
        for path, text in ((bad, "line 3 cannot be parsed"), (nohead, "no REGEDIT4 header")):
            with self.subTest(path):
                env = dict(self.env, VELLORAPI_REGISTRY=path)
                r = self.run_tool(*self.send_args("--from", "s@x.test", "--to", "a@b.test", "--message",
                                                  self.message), env=env)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertIn(text, r.stderr)

    def test_flags_over_the_registry(self):
        log = os.path.join(self.dir, "own.log")
        r = self.run_tool(*self.send_args("--from", "s@x.test", "--to", "a@b.test", "--message", self.message,
                                          "--log", log, "--timeout", "5"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("Send of 1 message(s) completed", open(log, encoding="latin-1").read())
        env = dict(self.env)
        env.pop("KORVEXAPI_DNS_SERVERS")
        r = self.run_tool("mx", "cli.test", "--dns", "127.0.0.1:%d" % self.dns_port, env=env)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("127.0.0.1", r.stdout)

    # ---- a real terminal ---------------------------------------------------------

    def tmux(self, *args):
        return subprocess.run(["tmux", "-L", "vellor-test", *args], capture_output=True, text=True, timeout=20)

    def screen(self):
        return self.tmux("capture-pane", "-p", "-t", "t").stdout

    def test_terminal_prompt_and_progress(self):
        if not shutil.which("tmux"):
            self.skipTest("tmux is not installed")
        env_args = ["env"] + ["%s=%s" % (k, v) for k, v in self.env.items()
                              if k.startswith(("VELLOR", "KORVEX"))]
        self.tmux("new-session", "-d", "-s", "t", "-x", "120", "-y", "30", "bash", "--norc", "--noprofile")
        try:
            cmd = " ".join(env_args + [VELLOR, *self.send_args("--from", "s@x.test", "--to", "a@b.test",
                                                                 "--message", self.message, "--user", "demo")])
            self.tmux("send-keys", "-t", "t", cmd, "Enter")
            self.assertTrue(wait_for(lambda: "Password:" in self.screen(), 10), self.screen())
            self.tmux("send-keys", "-t", "t", "C-c")
            time.sleep(0.3)
            self.tmux("send-keys", "-t", "t", "stty -a | grep -o ' -\\?echo ' | head -1", "Enter")
            echo_lines = lambda: [l.strip() for l in self.screen().splitlines() if l.strip() in ("echo", "-echo")]
            self.assertTrue(wait_for(lambda: echo_lines(), 10), self.screen())
            self.assertEqual(echo_lines(), ["echo"])  # the prompt's -echo was undone
            big = self.write("big.txt", "Subject: big\r\n\r\n" + ("x" * 78 + "\r\n") * 20000)
            self.tmux("send-keys", "-t", "t", "clear", "Enter")
            cmd = " ".join(env_args + ["KORVEXAPI_SEND_BLOCK_SIZE=65536", VELLOR,
                                       *self.send_args("--from", "s@x.test", "--to", "a@b.test", "--message", big,
                                                       "--progress")])
            self.tmux("send-keys", "-t", "t", cmd + " >/dev/null; echo EXIT=$((1000 + $?))", "Enter")
            self.assertTrue(wait_for(lambda: "EXIT=10" in self.screen(), 20), self.screen())
            self.assertIn("] 100%", self.screen())  # the bar, drawn on the terminal's standard error
            self.assertIn("EXIT=1000", self.screen())
        finally:
            self.tmux("kill-server")


if __name__ == "__main__":
    unittest.main(verbosity=2)
