#!/usr/bin/env bash
# The HTTP message API under load, beside the modem loop: runs the built pellwick headless
# (no display) against modemsim on the demo database (SQLite, data source DADIvav), with
# HTTP on 127.0.0.1 and a token, and prints
#   - the modem loop's rate without API load: outbox rows the simulator accepted per second
#     over DURATION seconds, a backlog of BACKLOG rows keeping the loop busy
#   - CONNECTIONS keep-alive connections POSTing /v1/messages for DURATION seconds: requests per
#     second and latency percentiles, and the modem loop's rate meanwhile
#   - the modem loop's rate once more after the load, so drift of a busy machine shows
#   - resident memory (VmRSS, and its peak VmHWM) with HTTP on: idle, halfway through the
#     load and after it
#   - whether every 201 left exactly one outbox row
# Defaults apply except the sending window, which is off, and the retry interval, 0: the
# loop's fastest pace, where a slowdown shows.
#
#   bench/http.sh [BIN_DIR]      BIN_DIR holds pellwick, modemsim and http_load (default build/bin)
# Environment: CONNECTIONS (20), DURATION (seconds of each phase, 30), BACKLOG (6000).
set -euo pipefail

BIN=$(cd "${1:-build/bin}" && pwd)
CONNECTIONS=${CONNECTIONS:-20} SECONDS_EACH=${DURATION:-30} BACKLOG=${BACKLOG:-6000}
WORK=$(mktemp -d /tmp/pw-bench-http.XXXXXX)
TOKEN=bench-$RANDOM$RANDOM
GATEWAY="" MODEM=""

now_ms() { date +%s%3N; }

stop_run() {
  if [ -n "$GATEWAY" ]; then
    kill -TERM "$GATEWAY" 2>/dev/null || true
    for _ in $(seq 400); do kill -0 "$GATEWAY" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$GATEWAY" 2>/dev/null || true
    wait "$GATEWAY" 2>/dev/null || true
  fi
  if [ -n "$MODEM" ]; then
    kill -TERM "$MODEM" 2>/dev/null || true
    wait "$MODEM" 2>/dev/null || true
  fi
  GATEWAY="" MODEM=""
}
trap 'stop_run; rm -rf "$WORK"' EXIT
trap 'echo "bench/http.sh: failed at line $LINENO" >&2; tail -n 20 "$WORK/gateway.out" >&2 2>/dev/null || true' ERR

sql() { sqlite3 -cmd '.timeout 10000' DADIvav.db "$1"; }

# Submissions the simulator accepted from one moment to another (ms since the epoch).
submissions() {
  { grep '"kind":"pdu"' record || true; } | { grep '"result":"ok"' || true; } |
    sed 's/.*"t":\([0-9]*\).*/\1/' | awk -v from="$1" -v to="$2" '$1 >= from && $1 < to' | wc -l
}
per_second() { awk -v n="$1" -v ms="$2" 'BEGIN { printf "%.2f", n * 1000 / ms }'; }
memory() {
  awk '/^VmRSS:/ { rss = $2 } /^VmHWM:/ { hwm = $2 } END { printf "RSS %.1f MB (peak %.1f MB)", rss / 1024, hwm / 1024 }' \
    /proc/"$GATEWAY"/status
}
threads() { ls /proc/"$GATEWAY"/task | wc -l; }

# A free port on the loopback: one nothing answers on.
port=
for _ in $(seq 50); do
  candidate=$((20000 + RANDOM % 40000))
  if ! (exec 3<>/dev/tcp/127.0.0.1/$candidate) 2>/dev/null; then port=$candidate; break; fi
done
[ -n "$port" ] || { echo "no free port found" >&2; exit 1; }

# The demo's setting up, as scripts/run.sh does it, in a folder of its own.
mkdir -p "$WORK/odbc"
cd "$WORK"
cp "$BIN/pellwick" "$BIN/modemsim" .
export ODBCSYSINI=$WORK/odbc ODBCINI=$WORK/odbc/odbc.ini
printf '[SQLite3]\nDriver=%s\n' "$(dpkg -L libsqliteodbc | grep '/libsqlite3odbc.so$' | head -n1)" > odbc/odbcinst.ini
touch odbc/odbc.ini
./pellwick -home "$WORK" -install >/dev/null 2>&1 || true  # the data source; the service part needs systemd
./pellwick -home "$WORK" -set sending_period=0 retry_interval=0 \
  "http_listen=127.0.0.1:$port" "http_token=$TOKEN" >/dev/null

./modemsim --link "$WORK/COM1" --record "$WORK/record" & MODEM=$!
for _ in $(seq 100); do [ -S COM1.ctl ] && break; sleep 0.1; done
env -u DISPLAY -u WAYLAND_DISPLAY DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent \
  ./pellwick -home "$WORK" -win9x >gateway.out 2>&1 & GATEWAY=$!
# Connected once the device information was read (the battery query ends it).
for _ in $(seq 600); do grep -q '"text":"AT+CBC"' record 2>/dev/null && break; sleep 0.1; done
grep -q '"text":"AT+CBC"' record || { echo "the gateway did not connect the modem" >&2; exit 1; }
for _ in $(seq 100); do
  [ "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/health")" != 000 ] && break
  sleep 0.1
done
[ "$(curl -s -o /dev/null -w '%{http_code}' -H "Authorization: Bearer $TOKEN" "http://127.0.0.1:$port/metrics")" = 200 ] ||
  { echo "the gateway does not answer HTTP on 127.0.0.1:$port" >&2; exit 1; }
sleep 3
idle_memory="$(memory), $(threads) threads"

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

# --- Phase A: the modem loop alone on a backlog ----------------------------------------
sql "insert into smsout(phone, msgbody)
     with recursive n(i) as (select 1 union all select i + 1 from n where i < $BACKLOG)
     select '+4917' || printf('%08d', i), 'backlog ' || i from n"
t=$(now_ms)
for _ in $(seq 600); do [ "$(submissions "$t" 99999999999999)" -gt 0 ] && break; sleep 0.1; done
sleep 2  # the loop at its pace
a0=$(now_ms)
sleep "$SECONDS_EACH"
a1=$(now_ms)
rate_a=$(per_second "$(submissions "$a0" "$a1")" $((a1 - a0)))

# --- Phase B: the same with the API under load -----------------------------------------
b0=$(now_ms)
"$BIN/http_load" "127.0.0.1:$port" "$TOKEN" "$CONNECTIONS" "$SECONDS_EACH" api >load.out & client=$!
sleep "$(awk -v s="$SECONDS_EACH" 'BEGIN { print s / 2 }')"
loaded_memory="$(memory), $(threads) threads"
wait "$client" || true
b1=$(now_ms)
rate_b=$(per_second "$(submissions "$b0" "$b1")" $((b1 - b0)))
pending=$(sql "select count(*) from smsout where status=0 and msgbody like 'backlog %'")
after_memory="$(memory), $(threads) threads"
load=$(cat load.out)

# --- Phase C: the modem loop alone again, the API's rows now queued as well ---------------
c0=$(now_ms)
sleep "$SECONDS_EACH"
c1=$(now_ms)
rate_c=$(per_second "$(submissions "$c0" "$c1")" $((c1 - c0)))
echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)"

field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<" $load"; }
created=$(field created)
rows=$(sql "select count(*) from smsout where msgbody like 'api %'")
distinct=$(sql "select count(distinct msgbody) from smsout where msgbody like 'api %'")
stop_run

[ "$pending" -gt 0 ] || echo "note: the backlog ran out during phase B; raise BACKLOG" >&2
printf '%-58s %s\n' \
  "modem loop, no API load (${SECONDS_EACH} s)" "$rate_a rows/s" \
  "POST /v1/messages, $CONNECTIONS connections, ${SECONDS_EACH} s" \
  "$(field rps) requests/s ($(field requests) answered, $created 201, $(field other) other, $(field broken) broken)" \
  "  latency" "p50 $(field p50_ms) ms, p90 $(field p90_ms) ms, p99 $(field p99_ms) ms, max $(field max_ms) ms" \
  "modem loop under that load" "$rate_b rows/s" \
  "modem loop after the load, no API load" "$rate_c rows/s" \
  "outbox rows from the API" "$rows rows, $distinct distinct, for $created answers 201" \
  "memory, HTTP on, headless, idle" "$idle_memory" \
  "memory halfway through the load" "$loaded_memory" \
  "memory after the load" "$after_memory"
