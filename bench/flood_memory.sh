#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Memory of a node under a flood (a measurement, not a test): a Korvel node in
# lab host 1 (tools/netlab) holds a name on LANA 1 while lab host 2, for
# SECONDS, sends it name-service datagrams (queries for its name and for
# others, unicast and broadcast, node status requests, registrations of its
# name, garbage) and keeps opening idle connections to its session port.
# Samples the node's resident memory (VmRSS, VmHWM) and open descriptors every
# second and prints start, peak and end. Everything stays in the lab's own
# namespaces; time, datagrams and connections are bounded. Run as root.
#   bench/flood_memory.sh [path/to/korvel-nb] [SECONDS] [DATAGRAMS] [OPEN_CONNECTIONS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$root/build/release/cli/korvel-nb}
seconds=${2:-60}
datagrams=${3:-1000000}
connections=${4:-1000}
[ -x "$tool" ] || { echo "no korvel-nb at $tool (build the korvel-nb target)" >&2; exit 1; }
[ "$(id -u)" = 0 ] || { echo "needs root (network namespaces)" >&2; exit 1; }
command -v python3 >/dev/null || { echo "python3 missing" >&2; exit 1; }

export NETLAB_PREFIX=kflood$$
export NETLAB_STATE=/tmp/netlab-$NETLAB_PREFIX
netlab=$root/tools/netlab
work=$(mktemp -d)
node_pid=
flood_pid=
cleanup() {
  touch "$work/stop"
  for pid in $flood_pid $node_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  "$netlab" down >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

"$netlab" up 2 >/dev/null
target=$("$netlab" addr 1)
broadcast=$("$netlab" bcast)

# The node: resets LANA 1 (the lab interface) and holds its name for the
# whole flood and a margin, then releases it.
ip netns exec "$("$netlab" ns 1)" "$tool" --lana 1 --timeout $((${seconds%.*} + 30)) hold FLOODNODE \
  >"$work/node.log" 2>&1 &
node_pid=$!
for _ in $(seq 100); do
  grep -q 'holding FLOODNODE' "$work/node.log" 2>/dev/null && break
  kill -0 "$node_pid" 2>/dev/null || { cat "$work/node.log" >&2; exit 1; }
  sleep 0.1
done
grep -q 'holding FLOODNODE' "$work/node.log" || { echo "the node did not come up:" >&2; cat "$work/node.log" >&2; exit 1; }

# The flooder, paced to DATAGRAMS over SECONDS; it keeps at most
# OPEN_CONNECTIONS idle connections open, opening new ones as the node drops them.
cat >"$work/flood.py" <<'EOF'
import os, random, resource, socket, struct, sys, time
target, bcast, seconds, max_datagrams, max_open = sys.argv[1], sys.argv[2], float(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, max_open + 64), hard))

def encode(raw):
    return bytes([32]) + bytes(b for c in raw for b in (0x41 + (c >> 4), 0x41 + (c & 15))) + b'\0'
def padded(text, suffix=0x20):
    return text.encode().ljust(15)[:15] + bytes([suffix])
def header(flags, qd=1, ar=0):
    return struct.pack('>6H', random.getrandbits(16), flags, qd, 0, 0, ar)
def question(raw, qtype):
    return encode(raw) + struct.pack('>HH', qtype, 1)
def registration():
    rr = b'\xc0\x0c' + struct.pack('>HHIH', 0x20, 1, 0, 6) + struct.pack('>H', 0) + bytes(random.getrandbits(8) for _ in range(4))
    return header(0x2910, ar=1) + question(padded('FLOODNODE'), 0x20) + rr
kinds = [
    (lambda: header(0x0100) + question(padded('FLOODNODE'), 0x20), target),    # unicast query, answered
    (lambda: header(0x0110) + question(padded('FLOODNODE'), 0x20), bcast),     # broadcast query
    (lambda: header(0x0100) + question(padded('NOSUCHNAME'), 0x20), target),   # negative answer
    (lambda: header(0x0000) + question(b'*' + bytes(15), 0x21), target),       # node status
    (lambda: header(0x0010) + question(b'*' + bytes(15), 0x21), bcast),        # broadcast node status
    (registration, bcast),                                                      # defended
    (lambda: os.urandom(random.randrange(0, 600)), target),                     # garbage
    (lambda: header(random.getrandbits(16), random.getrandbits(3)) + os.urandom(random.randrange(0, 80)), target),
]
udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
udp.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
udp.setblocking(False)
sent = answers = opened = dropped = 0
open_sockets = []
start = time.monotonic()
next_prune = start + 1
while True:
    now = time.monotonic()
    if now - start >= seconds:
        break
    due = min(max_datagrams, int(max_datagrams * (now - start) / seconds))
    while sent < due:
        make, to = random.choice(kinds)
        try:
            udp.sendto(make(), (to, 137))
        except OSError:
            pass
        sent += 1
    while True:
        try:
            udp.recv(2048)
            answers += 1
        except OSError:
            break
    for _ in range(20):
        if len(open_sockets) >= max_open:
            break
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setblocking(False)
        try:
            s.connect((target, 139))
        except BlockingIOError:
            pass
        except OSError:
            s.close()
            continue
        open_sockets.append(s)
        opened += 1
    if now >= next_prune:
        next_prune = now + 1
        alive = []
        for s in open_sockets:
            try:
                if s.recv(1, socket.MSG_PEEK | socket.MSG_DONTWAIT) == b'':
                    raise ConnectionResetError
                alive.append(s)
            except BlockingIOError:
                alive.append(s)
            except OSError:
                s.close()
                dropped += 1
        open_sockets = alive
    time.sleep(0.005)
for s in open_sockets:
    s.close()
print(f"flood: {sent} datagrams, {answers} answers heard, {opened} connections opened, {dropped} dropped by the node, {len(open_sockets)} still open at the end")
EOF

sample() {  # VmRSS VmHWM (KiB) and open descriptors of the node
  local rss hwm fds
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$node_pid/status")
  hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$node_pid/status")
  fds=$(ls "/proc/$node_pid/fd" | wc -l)
  echo "$rss $hwm $fds"
}

sleep 2
read -r start_rss _ start_fds < <(sample)
echo "start: resident $start_rss KiB, $start_fds descriptors"
ip netns exec "$("$netlab" ns 2)" python3 "$work/flood.py" "$target" "$broadcast" "$seconds" "$datagrams" "$connections" \
  >"$work/flood.log" 2>&1 &
flood_pid=$!
peak_rss=$start_rss
peak_fds=$start_fds
elapsed=0
# The flood, then as long again as an idle connection may wait for its request (10 s) and more.
while kill -0 "$flood_pid" 2>/dev/null || [ "$elapsed" -lt $((seconds + 15)) ]; do
  sleep 1
  elapsed=$((elapsed + 1))
  kill -0 "$node_pid" 2>/dev/null || { echo "the node died:" >&2; cat "$work/node.log" >&2; exit 1; }
  read -r rss hwm fds < <(sample)
  [ "$rss" -gt "$peak_rss" ] && peak_rss=$rss
  [ "$fds" -gt "$peak_fds" ] && peak_fds=$fds
  [ $((elapsed % 10)) -eq 0 ] && echo "${elapsed}s: resident $rss KiB, $fds descriptors"
  [ "$elapsed" -gt $((seconds + 60)) ] && break
done
wait "$flood_pid" || true
flood_pid=
read -r end_rss end_hwm end_fds < <(sample)
cat "$work/flood.log"
echo "node resident memory: start $start_rss KiB, peak $peak_rss KiB (VmHWM $end_hwm KiB), end $end_rss KiB"
echo "node descriptors: start $start_fds, peak $peak_fds, end $end_fds"
