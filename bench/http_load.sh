#!/usr/bin/env bash
# Keep-alive throughput of pavo-agent's GET /health against nginx returning a small body, both with one
# worker, measured by wrk in the same run; then the resident memory of 10,000 idle keep-alive connections.
# Usage: bench/http_load.sh [seconds per wrk run] [idle connections]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-8}"
idle="${2:-10000}"
agent=build/default/src/pavo-agent
[ -x "$agent" ] || { echo "build the default preset first" >&2; exit 1; }

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
ulimit -n "$(ulimit -Hn)"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
agent_port="$(free_port)"
nginx_port="$(free_port)"

HOME="$work" "$agent" --port "$agent_port" --token bench >"$work/agent.log" 2>&1 &
pids+=($!); agent_pid=$!

mkdir -p "$work/nginx/logs"
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 20000; }
http {
  access_log off;
  keepalive_requests 100000000;
  keepalive_timeout 300s;
  server {
    listen 127.0.0.1:$nginx_port;
    location / { default_type application/json; return 200 '{"ok":true,"version":"0.2.0"}'; }
  }
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
pids+=($!)
for _ in $(seq 100); do
  curl -sf "http://127.0.0.1:$agent_port/health" >/dev/null && curl -sf "http://127.0.0.1:$nginx_port/" >/dev/null && break
  sleep 0.05
done

rps() { wrk -t1 -c64 -d"${seconds}s" "$1" | awk '/Requests\/sec/ {print $2}'; }
echo "wrk -t1 -c64 -d${seconds}s, keep-alive, two rounds each, alternating"
a1=$(rps "http://127.0.0.1:$agent_port/health"); n1=$(rps "http://127.0.0.1:$nginx_port/health")
a2=$(rps "http://127.0.0.1:$agent_port/health"); n2=$(rps "http://127.0.0.1:$nginx_port/health")
python3 - "$a1" "$a2" "$n1" "$n2" <<'PY'
import sys
a1, a2, n1, n2 = map(float, sys.argv[1:])
a, n = (a1 + a2) / 2, (n1 + n2) / 2
print(f"pavo-agent GET /health : {a1:,.0f} / {a2:,.0f} req/s (mean {a:,.0f})")
print(f"nginx return 200       : {n1:,.0f} / {n2:,.0f} req/s (mean {n:,.0f})")
print(f"ratio agent/nginx      : {a / n:.2f}x")
PY

rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
before=$(rss_kib "$agent_pid")
after=$(python3 - "$agent_port" "$idle" "$agent_pid" <<'PY'
import socket, sys
port, count, pid = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
request = b"GET /health HTTP/1.1\r\nHost: x\r\n\r\n"
conns = []
for _ in range(count):
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(request)
    conns.append(s)
for s in conns:  # each is served once, then left open and idle
    data = b""
    while b"\r\n\r\n" not in data:
        data += s.recv(4096)
with open(f"/proc/{pid}/status") as f:
    print(next(l for l in f if l.startswith("VmRSS")).split()[1])
PY
)
echo "pavo-agent RSS: ${before} KiB at rest, ${after} KiB with ${idle} idle keep-alive connections" \
     "($(( (after - before) * 1024 / idle )) bytes per connection)"
