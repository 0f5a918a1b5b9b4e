#!/usr/bin/env bash
# The HTTP message API under load, beside the modem loop: runs the built pellwick headless
# (no display) against modemsim on the demo database (SQLite, data source DADIvav), with
# HTTP on 127.0.0.1 and a token, and prints for phases of DURATION seconds each
#   - the modem loop's rate without API load: outbox rows the simulator accepted per
#     second, a backlog of BACKLOG rows keeping the loop busy
#   - CONNECTIONS keep-alive connections POSTing /v1/messages as fast as they are answered:
#     requests per second, latency percentiles, and the modem loop's rate meanwhile
#   - the same connections paced to PACED requests per second in all
#   - the modem loop's rate once more without API load, so the drift of a busy machine shows
#   - resident memory (VmRSS, and its peak VmHWM) with HTTP on: idle, halfway through the
#     full load and after it
#   - whether every 201 left exactly one outbox row
# Defaults apply except the sending window, which is off, and the retry interval, 0: the
# loop's fastest pace, where a slowdown shows. The client runs on the same machine.
#
#   bench/http.sh [BIN_DIR]      BIN_DIR holds pellwick, modemsim and http_load (default build/bin)
# Environment: CONNECTIONS (20), DURATION (30), PACED (200), BACKLOG (60000).
set -euo pipefail

BIN=$(cd "${1:-build/bin}" && pwd)
CONNECTIONS=${CONNECTIONS:-20} DURATION=${DURATION:-30} PACED=${PACED:-200} BACKLOG=${BACKLOG:-60000}
WORK=$(mktemp -d /tmp/pw-bench-http.XXXXXX)
TOKEN=bench-$RANDOM$RANDOM
GATEWAY="" MODEM="" client=""

now_ms() { date +%s%3N; }

stop_run() {
  [ -z "$client" ] || kill "$client" 2>/dev/null || true
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
metrics() { curl -s -o /dev/null -w '%{http_code}' -H "Authorization: Bearer $TOKEN" "http://127.0.0.1:$port/metrics"; }
for _ in $(seq 300); do [ "$(metrics)" = 200 ] && break; sleep 0.1; done
answer=$(metrics)
[ "$answer" = 200 ] || { echo "the gateway answers GET /metrics on 127.0.0.1:$port with $answer" >&2; exit 1; }
sleep 3
idle_memory="$(memory), $(threads) threads"

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

# The modem loop's rate over one phase, with or without a client meanwhile; warns when the
# outbox ran dry before the phase ended.
loop_rate() {
  local from=$1 to=$2
  per_second "$(submissions "$from" "$to")" $((to - from))
  [ "$(sql "select count(*) from smsout where status=0")" -gt 0 ] ||
    echo "note: the outbox ran dry during a phase; raise BACKLOG" >&2
}
# Runs the client for a phase at a rate (0: as fast as answered) into load.out.
api_phase() {
  "$BIN/http_load" "127.0.0.1:$port" "$TOKEN" "$CONNECTIONS" "$DURATION" "$1" >load.out & client=$!
}
field() { sed -n "s/.* $2=\([^ ]*\).*/\1/p" <<<" $1"; }
describe() {
  echo "$(field "$1" rps) requests/s ($(field "$1" requests) answered, $(field "$1" created) 201," \
    "$(field "$1" other) other, $(field "$1" broken) broken)"
}
latency() {
  echo "p50 $(field "$1" p50_ms) ms, p90 $(field "$1" p90_ms) ms, p99 $(field "$1" p99_ms) ms, max $(field "$1" max_ms) ms"
}

# --- Phase A: the modem loop alone on a backlog ----------------------------------------
sql "insert into smsout(phone, msgbody)
     with recursive n(i) as (select 1 union all select i + 1 from n where i < $BACKLOG)
     select '+4917' || printf('%08d', i), 'backlog ' || i from n"
t=$(now_ms)
for _ in $(seq 600); do [ "$(submissions "$t" 99999999999999)" -gt 0 ] && break; sleep 0.1; done
sleep 2  # the loop at its pace
a0=$(now_ms)
sleep "$DURATION"
rate_a=$(loop_rate "$a0" "$(now_ms)")

# --- Phase B: the API under full load ---------------------------------------------------
b0=$(now_ms)
api_phase 0
sleep "$(awk -v s="$DURATION" 'BEGIN { print s / 2 }')"
loaded_memory="$(memory), $(threads) threads"
wait "$client" || true
rate_b=$(loop_rate "$b0" "$(now_ms)")
after_memory="$(memory), $(threads) threads"
full=$(cat load.out)

# --- Phase P: the API paced -------------------------------------------------------------
p0=$(now_ms)
api_phase "$PACED"
wait "$client" || true
rate_p=$(loop_rate "$p0" "$(now_ms)")
paced=$(cat load.out)

# --- Phase C: the modem loop alone again ------------------------------------------------
c0=$(now_ms)
sleep "$DURATION"
rate_c=$(loop_rate "$c0" "$(now_ms)")
echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)"

created=$(($(field "$full" created) + $(field "$paced" created)))
rows=$(sql "select count(*) from smsout where msgbody like 'api %'")
distinct=$(sql "select count(distinct msgbody) from smsout where msgbody like 'api %'")
stop_run

printf '%-50s %s\n' \
  "modem loop, no API load (${DURATION} s)" "$rate_a rows/s" \
  "POST /v1/messages, $CONNECTIONS connections, ${DURATION} s" "$(describe "$full")" \
  "  latency" "$(latency "$full")" \
  "  modem loop meanwhile" "$rate_b rows/s" \
  "the same paced to $PACED requests/s" "$(describe "$paced")" \
  "  latency" "$(latency "$paced")" \
  "  modem loop meanwhile" "$rate_p rows/s" \
  "modem loop, no API load again" "$rate_c rows/s" \
  "outbox rows from the API" "$rows rows, $distinct distinct, for $created answers 201" \
  "memory, HTTP on, headless, idle" "$idle_memory" \
  "memory halfway through the full load" "$loaded_memory" \
  "memory after it" "$after_memory"
