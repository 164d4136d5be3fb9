#!/usr/bin/python3
"""The vellor tool driven as a user would: the cases of cases.txt and sendmail.txt (argument
handling, exit statuses, JSON reports, sends through the capture server and
TLS servers, lookups against dnsmasq), then what needs more than a case: a
real terminal.
Usage: test_cli.py PATH-TO-VELLOR"""
import glob
import json
import os
import re
import shlex
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

VELLOR = os.path.abspath(sys.argv.pop(1))
# Mail::DKIM's verifier with its DNS lookup answered by the record in $DKIM_RECORD.
PERL_VERIFY = ("no warnings 'redefine'; *Mail::DKIM::DNS::query = sub { (Net::DNS::RR->new(name => $_[0],"
               " type => 'TXT', txtdata => $ENV{DKIM_RECORD})) }; my $v = Mail::DKIM::Verifier->new(); local $/;"
               " my $m = <STDIN>; $m =~ s/\\r?\\n/\\r\\n/g; $v->PRINT($m); $v->CLOSE(); print $v->result;")
HERE = os.path.dirname(os.path.abspath(__file__))
MAKE_CERTS = os.path.join(HERE, "..", "servers", "make_certs.sh")
sys.path.insert(0, os.path.join(HERE, "..", "servers"))
from launch import dns_answers, free_port, start, start_capture, wait_for  # noqa: E402


class Cli(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="vellor-cli-")
        cls.port = free_port()
        cls.capture = os.path.join(cls.dir, "capture")
        cls.server = start_capture(cls.capture, cls.port)
        cls.server6 = start_capture(cls.capture, cls.port, host="::1")  # the same messages, over IPv6
        cls.dns_port = free_port(socket.SOCK_DGRAM)
        cls.closed_port = free_port()
        conf = os.path.join(cls.dir, "dnsmasq.conf")
        with open(conf, "w") as f:
            f.write("no-resolv\nno-hosts\nbind-interfaces\nlisten-address=127.0.0.1\nport=%d\nlocal=/test/\n"
                    "mx-host=cli.test,mx.cli.test,10\nhost-record=mx.cli.test,127.0.0.1\n"
                    "ptr-record=1.0.0.127.in-addr.arpa,mx.cli.test\n"
                    "host-record=six.cli.test,::1\nhost-record=dual.cli.test,127.0.0.2,::1\n"
                    "mx-host=v6.cli.test,six.cli.test,10\nmx-host=dual.cli.test,dual.cli.test,10\n"
                    "mx-host=sts.cli.test,mx.cli.test,10\ntxt-record=_mta-sts.sts.cli.test,\"v=STSv1; id=1;\"\n"
                    % cls.dns_port)
        args = ["/usr/sbin/dnsmasq", "--conf-file=" + conf, "--keep-in-foreground", "--pid-file="]
        if os.getuid() == 0:
            args.append("--user=root")
        cls.dnsmasq = start(args)
        cls.sink_port = free_port()  # smtp-sink without AUTH in its EHLO reply
        cls.sink = start(["/usr/sbin/smtp-sink", "-a"] + (["-u", "nobody"] if os.getuid() == 0 else []) +
                         ["127.0.0.1:%d" % cls.sink_port, "10"])
        cls.env = dict(os.environ, VELLORAPI_SYSTEM_DIR=cls.dir, VELLORAPI_REGISTRY=os.path.join(cls.dir, "none.reg"),
                       KORVEXAPI_DNS_SERVERS="127.0.0.1:%d" % cls.dns_port, KORVEXAPI_TIMEOUT_MS="3000")
        cls.env.pop("VELLOR_PASSWORD", None)
        cls.message = os.path.join(cls.dir, "hello.txt")
        with open(cls.message, "w") as f:
            f.write("Subject: cli\r\n\r\nHello from the tool.\r\n")
        cls.silent = socket.socket()  # accepts, never answers
        cls.silent.bind(("127.0.0.1", 0))
        cls.silent.listen(4)
        cls.tls, cls.tls_port, cls.certs = None, 0, ""
        assert dns_answers(cls.dns_port), "dnsmasq does not answer"

    @classmethod
    def tearDownClass(cls):
        cls.silent.close()
        for p in (cls.server, cls.server6, cls.dnsmasq, cls.sink):
            p.terminate()
            p.wait(timeout=10)
        shutil.rmtree(cls.dir, ignore_errors=True)

    # ---- the cases -----------------------------------------------------------

    def expand(self, text, folder):
        for key, value in (("{port}", self.port), ("{dns}", self.dns_port), ("{closed}", self.closed_port),
                           ("{silent}", self.silent.getsockname()[1]), ("{sink}", self.sink_port),
                           ("{dir}", folder),
                           ("{message}", self.message), ("{tlsport}", self.tls_port), ("{certs}", self.certs),
                           ("{vellor}", VELLOR), ("{src}", os.path.join(HERE, "..", ".."))):
            text = text.replace(key, str(value))
        text = re.sub(r"\{(\d+)\*([^}]*)\}", lambda m: m.group(2) * int(m.group(1)), text)
        return text.encode("latin-1").decode("unicode_escape")

    def check(self, what, arg, run, stored_before):
        out = run.stdout + run.stderr
        last = json.loads(run.stdout.splitlines()[-1]) if what.startswith("json") else None
        new = self.stored()[len(stored_before):] if what.startswith(("last", "dkim")) else None
        checks = {
            "exit": lambda: self.assertEqual(run.returncode, int(arg), out),
            "stdout": lambda: self.assertEqual(run.stdout.strip(), arg),
            "stdout-has": lambda: self.assertIn(arg, run.stdout),
            "stdout-matches": lambda: self.assertRegex(run.stdout, arg),
            "stderr-has": lambda: self.assertIn(arg, run.stderr),
            "output-lacks": lambda: self.assertNotIn(arg, out),
            "stored": lambda: self.assertEqual(len(self.stored()) - len(stored_before), int(arg)),
            "json": lambda: self.assertEqual(str(last[arg.split()[0]]), arg.split(" ", 1)[1]),
            "json-has": lambda: self.assertIn(json.loads(arg), [json.loads(l) for l in run.stdout.splitlines()]),
            "last-body": lambda: self.assertEqual(open(os.path.join(self.capture, "Maildir", "new", new[-1]),
                                                       "rb").read().decode("latin-1"), arg),
            "last-has": lambda: self.assertIn(arg, self.last_text(new)),
            "last-lacks": lambda: self.assertNotIn(arg, self.last_text(new)),
            "last-from": lambda: self.assertEqual(json.load(open(os.path.join(self.capture, "Maildir", "new",
                                                                              new[-1] + ".json")))["from"], arg),
            "last-to": lambda: self.assertEqual(json.load(open(os.path.join(self.capture, "Maildir", "new",
                                                                            new[-1] + ".json")))["to"], arg.split()),
            "names": lambda: self.assertEqual(sorted(os.listdir(arg.split()[0])), arg.split()[1:]),
            "file-has": lambda: self.assertIn(arg.split(" ", 1)[1], open(arg.split()[0], encoding="latin-1").read()),
            "file-lacks": lambda: self.assertNotIn(arg.split(" ", 1)[1], open(arg.split()[0], encoding="latin-1").read()),
            "file-is": lambda: self.assertEqual(open(arg.split()[0], encoding="latin-1", newline="").read(),
                                                arg.split(" ", 1)[1]),
            "tls-stored": lambda: self.assertEqual(len(glob.glob(os.path.join(self.tls[1], "Maildir", "new",
                                                                              "*[0-9a-f]"))), int(arg)),  # no .json
            "dkim": lambda: self.check_dkim(new[-1], *arg.split()),
            "tls-lacks": lambda: self.assertFalse(os.path.exists(os.path.join(self.tls[1], "commands.txt")) and arg in
                                                  open(os.path.join(self.tls[1], "commands.txt")).read().split()),
        }
        checks[what]()

    def run_case(self, name, lines):
        folder = tempfile.mkdtemp(dir=self.dir)
        env, stdin, run, before = dict(self.env), "", None, self.stored()
        for line in lines:
            word, _, rest = line.partition(" ")
            rest = self.expand(rest, folder)
            if word in ("run", "shell"):
                args = [VELLOR, *shlex.split(rest)] if word == "run" else ["bash", "-c", rest]
                run = subprocess.run(args, input=stdin, capture_output=True, text=True, timeout=60, env=env,
                                     cwd=folder)
                stdin = ""
            elif word == "link":
                os.symlink(VELLOR, os.path.join(folder, rest))
            elif word == "stdin":
                stdin = rest
            elif word == "key":
                key, kind = rest.split()
                algo = ["-algorithm", "ed25519"] if kind == "ed25519" else \
                    ["-algorithm", "rsa", "-pkeyopt", "rsa_keygen_bits:" + ("1024" if kind == "rsa1024" else "2048")]
                subprocess.run(["openssl", "genpkey", *algo, "-out", os.path.join(folder, key)], check=True,
                               capture_output=True, timeout=60)
            elif word == "tls":
                self.start_tls(rest, folder)
            elif word == "fifo":
                os.mkfifo(os.path.join(folder, rest))
            elif word == "env":
                key, _, value = rest.partition("=")
                env.pop(key, None) if not value else env.__setitem__(key, value)
            elif word == "file":
                path, _, text = rest.partition(" ")
                os.makedirs(os.path.dirname(os.path.join(folder, path)), exist_ok=True)
                with open(os.path.join(folder, path), "w", newline="") as f:
                    f.write(text)
            elif word == "expect":
                what, _, arg = rest.partition(" ")
                with self.subTest(case=name, expect=rest):
                    self.check(what, arg, run, before)
        self.stop_tls()

    def last_text(self, new):
        with open(os.path.join(self.capture, "Maildir", "new", new[-1]), "rb") as f:
            return f.read().decode("latin-1")

    def check_dkim(self, name, key, verifiers="python+perl"):
        """The stored message holds one DKIM signature, and python3-dkim and Perl's Mail::DKIM (or the
        VERIFIERS named) verify it with the record `vellor dkim-record KEY` prints."""
        import dkim
        message = open(os.path.join(self.capture, "Maildir", "new", name), "rb").read()
        self.assertEqual(message.count(b"DKIM-Signature:"), 1)
        record = subprocess.run([VELLOR, "dkim-record", key], capture_output=True, check=True, timeout=30).stdout
        self.assertTrue(dkim.verify(message, dnsfunc=lambda *a, **k: record.strip()), message[:600])
        if "perl" not in verifiers:
            return
        out = subprocess.run(["perl", "-MMail::DKIM::Verifier", "-MNet::DNS", "-e", PERL_VERIFY], input=message,
                             capture_output=True, timeout=30, env=dict(os.environ, DKIM_RECORD=record.decode().strip()))
        self.assertEqual(out.stdout.decode(), "pass", out.stderr.decode())

    def start_tls(self, mode, folder):
        """A TLS capture server (login demo / s3cret) in MODE on a port of its own: {tlsport}."""
        self.stop_tls()
        if not self.certs:
            self.certs = os.path.join(self.dir, "certs")
            os.makedirs(self.certs)
            subprocess.run(["bash", MAKE_CERTS, self.certs], check=True, timeout=60)
        self.tls_port, root = free_port(), tempfile.mkdtemp(dir=folder)
        self.tls = (start_capture(root, self.tls_port, "--tls", mode, os.path.join(self.certs, "server.pem"),
                                  os.path.join(self.certs, "server.key")), root)

    def stop_tls(self):
        if self.tls:
            self.tls[0].terminate()
            self.tls[0].wait(timeout=10)
            self.tls = None

    def test_cases(self):
        cases, name = {}, None
        for file_name in ("cases.txt", "sendmail.txt"):
            with open(os.path.join(HERE, file_name)) as f:
                for n, line in enumerate(f.read().splitlines(), 1):
                    if line.startswith("=== "):
                        name = "%s:%d: %s" % (f.name, n, line[4:])  # a failure names the case's file and line
                        cases[name] = []
                    elif line and not line.startswith("#") and name:
                        cases[name].append(line)
        self.assertGreater(len(cases), 0)
        only = os.environ.get("VELLOR_CASE", "")  # runs only the cases whose title holds it
        for name, lines in cases.items():
            if only in name:
                self.run_case(name, lines)

    def stored(self):
        new = os.path.join(self.capture, "Maildir", "new")
        return sorted(n for n in os.listdir(new) if not n.endswith(".json"))

    def test_man_page_in_the_build_tree_names_every_option_and_code(self):
        page = subprocess.run(["man", "-M", os.path.join(os.path.dirname(VELLOR), "..", "man"), "vellor"],
                              capture_output=True, text=True, timeout=60, env=dict(os.environ, MANWIDTH="200")).stdout
        flags = set()
        for sub in ("send", "dkim-record", "mx"):
            out = subprocess.run([VELLOR, sub, "--help"], capture_output=True, text=True, timeout=30).stdout
            flags |= set(re.findall(r"^\s+(--[a-z0-9-]+)", out, re.M)) - {"--help"}
        words = set(re.findall(r"--[a-z0-9-]+|\b9[0-3]\d\b", page.replace("\u2010", "-")))
        self.assertEqual(flags - words, set())
        self.assertEqual(({str(c) for c in range(901, 920)} | {"930"}) - words, set())
        for option in ("Pipelining", "DKIMKeyFile", "AuthMechanism", "3 opportunistic"):
            self.assertIn(option, page)

    # ---- a real terminal ---------------------------------------------------------

    def tmux(self, *args):
        # a server of this run's own: runs side by side never share one
        return subprocess.run(["tmux", "-L", "vellor-test-%d" % os.getpid(), *args], capture_output=True, text=True,
                              timeout=20)

    def screen(self):
        return self.tmux("capture-pane", "-p", "-t", "t").stdout

    def test_terminal_prompt_and_progress(self):
        if not shutil.which("tmux"):
            self.skipTest("tmux is not installed")
        env_args = ["env"] + ["%s=%s" % (k, v) for k, v in self.env.items()
                              if k.startswith(("VELLOR", "KORVEX"))]
        send = [VELLOR, "send", "--server-ip", "127.0.0.1", "--port", str(self.port), "--from", "s@x.test", "--to",
                "a@b.test"]
        self.tmux("new-session", "-d", "-s", "t", "-x", "120", "-y", "30", "bash", "--norc", "--noprofile")
        try:
            cmd = " ".join(shlex.quote(a) for a in env_args + send + ["--message", self.message, "--user", "demo"])
            self.tmux("send-keys", "-t", "t", cmd, "Enter")
            self.assertTrue(wait_for(lambda: "Password:" in self.screen(), 10), self.screen())
            self.tmux("send-keys", "-t", "t", "C-c")
            time.sleep(0.3)
            self.tmux("send-keys", "-t", "t", "stty -a | grep -o ' -\\?echo ' | head -1", "Enter")
            echo_lines = lambda: [l.strip() for l in self.screen().splitlines() if l.strip() in ("echo", "-echo")]
            self.assertTrue(wait_for(lambda: echo_lines(), 10), self.screen())
            self.assertEqual(echo_lines(), ["echo"])  # the prompt's -echo was undone
            big = os.path.join(self.dir, "big.txt")
            with open(big, "w") as f:
                f.write("Subject: big\r\n\r\n" + ("x" * 78 + "\r\n") * 20000)
            self.tmux("send-keys", "-t", "t", "clear", "Enter")
            cmd = " ".join(shlex.quote(a) for a in
                           env_args + ["KORVEXAPI_SEND_BLOCK_SIZE=65536"] + send + ["--message", big, "--progress"])
            self.tmux("send-keys", "-t", "t", cmd + " >/dev/null; echo EXIT=$((1000 + $?))", "Enter")
            self.assertTrue(wait_for(lambda: "EXIT=10" in self.screen(), 20), self.screen())
            self.assertIn("] 100%", self.screen())  # the bar, drawn on the terminal's standard error
            self.assertIn("EXIT=1000", self.screen())
        finally:
            self.tmux("kill-server")


if __name__ == "__main__":
    unittest.main(verbosity=2)
