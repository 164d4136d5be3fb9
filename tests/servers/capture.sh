# Sourced by the shell checks: start_capture WORK [--tls MODE CERT KEY]
# starts the capture server (login demo / s3cret) on a free loopback port with its Maildir under
# WORK/capture, sets $port and $server_pid, and waits for it to be ready. It listens on
# $capture_host, 127.0.0.1 when unset.
start_capture() {
  local work=$1 here
  here=$(dirname "${BASH_SOURCE[0]}")
  local host=${capture_host:-127.0.0.1}
  port=$(/usr/bin/python3 -c 'import socket, sys; s=socket.socket(socket.AF_INET6 if ":" in sys.argv[1] else socket.AF_INET)
s.bind((sys.argv[1], 0)); print(s.getsockname()[1])' "$host")
  mkdir -p "$work/capture"
  /usr/bin/python3 "$here/capture_smtpd.py" "$host" "$port" "$work/capture" demo s3cret "${@:2}" >"$work/server.log" 2>&1 &
  server_pid=$!
  for _ in $(seq 150); do [ -f "$work/capture/ready" ] && break; sleep 0.1; done
}
