#!/usr/bin/env bash
# The gateway's speed on the simulated modem: runs the built pellwick against modemsim
# with SQLite, headless (no display), and prints five figures:
#   - 20 messages announced by +CMTI at once: time from the delivery to the last committed row
#   - 5 messages left in the store without indication: the same
#   - outbound: time from the insert to the simulator's record of the first submission
#     (defaults), and the rate of 60 messages queued at once with retry interval 0
#   - idle CPU of the process over IDLE_SECONDS (default 60) from /proc
#   - idle memory: resident (VmRSS) and proportional (Pss) set
# Defaults apply except the sending window, which is off.
#
#   bench/gateway.sh [BIN_DIR]      BIN_DIR holds pellwick and modemsim (default build/bin)
set -euo pipefail

BIN=$(cd "${1:-build/bin}" && pwd)
IDLE_SECONDS=${IDLE_SECONDS:-60}
WORK=$(mktemp -d /tmp/pw-bench.XXXXXX)
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
trap 'echo "bench/gateway.sh: failed at line $LINENO" >&2' ERR

# Writes a little-endian 32-bit value into the settings file at a byte offset.
put_int() {
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($2 & 255)) $(($2 >> 8 & 255)) $(($2 >> 16 & 255)) $(($2 >> 24 & 255)))" |
    dd of=Pellwick.ini bs=1 seek="$1" conv=notrunc status=none
}

ctl() {
  local args=()
  for line in "$@"; do args+=(--request "$line"); done
  ./modemsim --control COM1.ctl "${args[@]}" >/dev/null
}

sql() { sqlite3 -cmd '.timeout 5000' DADIvav.db "$1"; }

# Waits until the SQL count reaches the target; prints the time it was seen, or fails.
wait_count() {
  local query=$1 target=$2 limit=$(($(now_ms) + $3 * 1000))
  while [ "$(now_ms)" -lt "$limit" ]; do
    if [ "$(sql "$query")" -ge "$target" ]; then now_ms; return 0; fi
    sleep 0.02
  done
  return 1
}

# Times ("t") of the simulator's submission records accepted at or after a moment.
submissions_since() {
  { grep '"kind":"pdu"' record || true; } | { grep '"result":"ok"' || true; } |
    sed 's/.*"t":\([0-9]*\).*/\1/' | awk -v from="$1" '$1 >= from'
}

seconds() { awk -v ms="$1" 'BEGIN { printf "%.2f s", ms / 1000 }'; }

# Prepares a fresh folder with the binaries, the data source and the settings, and starts
# the simulator and the gateway; returns once the gateway has connected the modem.
start_run() {
  local dir=$WORK/$1 retry=$2
  mkdir -p "$dir/odbc"
  cd "$dir"
  cp "$BIN/pellwick" "$BIN/modemsim" .
  export ODBCSYSINI=$dir/odbc ODBCINI=$dir/odbc/odbc.ini
  printf '[SQLite3]\nDriver=%s\n' "$(dpkg -L libsqliteodbc | grep '/libsqlite3odbc.so$' | head -n1)" \
    > odbc/odbcinst.ini
  touch odbc/odbc.ini
  ./pellwick -install >/dev/null 2>&1 || true
  # A first run writes the settings file with the defaults.
  env -u DISPLAY -u WAYLAND_DISPLAY ./pellwick -win9x >/dev/null 2>&1 & local first=$!
  for _ in $(seq 100); do [ -s Pellwick.ini ] && break; sleep 0.1; done
  kill -TERM "$first"; wait "$first" 2>/dev/null || true
  put_int 980 0         # m_bSendingPeriod off
  put_int 8 "$retry"    # m_nRetryInterval, seconds

  ./modemsim --link "$dir/COM1" --record "$dir/record" & MODEM=$!
  for _ in $(seq 100); do [ -S COM1.ctl ] && break; sleep 0.1; done
  env -u DISPLAY -u WAYLAND_DISPLAY ./pellwick -win9x >/dev/null 2>&1 & GATEWAY=$!
  # Connected once the device information was read (the battery query ends it).
  for _ in $(seq 600); do grep -q '"text":"AT+CBC"' record 2>/dev/null && break; sleep 0.1; done
  grep -q '"text":"AT+CBC"' record || { echo "the gateway did not connect the modem" >&2; exit 1; }
  sleep 2
}

cpu_ns() {  # CPU time of every thread of the process, nanoseconds
  awk '{ s += $1 } END { printf "%d", s }' /proc/"$GATEWAY"/task/*/schedstat
}
cpu_ticks() { awk '{ print $14 + $15 }' /proc/"$GATEWAY"/stat; }

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

# --- Run 1: defaults --------------------------------------------------------------------
start_run defaults 3
sleep 3
ticks0=$(cpu_ticks) ns0=$(cpu_ns) wall0=$(now_ms)
sleep "$IDLE_SECONDS"
ticks1=$(cpu_ticks) ns1=$(cpu_ns) wall1=$(now_ms)
hz=$(getconf CLK_TCK)
idle_cpu=$(awk -v t=$((ticks1 - ticks0)) -v hz="$hz" -v w=$((wall1 - wall0)) \
  'BEGIN { printf "%.3f %%", 100 * t / hz / (w / 1000) }')
idle_precise=$(awk -v n=$((ns1 - ns0)) -v w=$((wall1 - wall0)) \
  'BEGIN { printf "%.4f %% (%.1f ms of CPU)", 100 * n / 1e6 / w, n / 1e6 }')
rss=$(awk '/^VmRSS:/ { printf "%.1f MB", $2 / 1024 }' /proc/"$GATEWAY"/status)
pss=$(awk '/^Pss:/ { printf "%.1f MB", $2 / 1024 }' /proc/"$GATEWAY"/smaps_rollup)
threads=$(ls /proc/"$GATEWAY"/task | wc -l)

requests=()
for i in $(seq -w 1 20); do requests+=("DELIVER from=+491700000$i via=store text=burst $i"); done
t0=$(now_ms); ctl "${requests[@]}"
t1=$(wait_count "select count(*) from smsin where msgbody like 'burst %'" 20 120) && burst=$(seconds $((t1 - t0))) ||
  burst="not all stored within 120 s ($(sql "select count(*) from smsin where msgbody like 'burst %'") of 20)"

requests=()
for i in 1 2 3 4 5; do requests+=("DELIVER from=+491710000$i via=silent text=stored $i"); done
t0=$(now_ms); ctl "${requests[@]}"
t1=$(wait_count "select count(*) from smsin where msgbody like 'stored %'" 5 300) && stored=$(seconds $((t1 - t0))) ||
  stored="not all stored within 300 s ($(sql "select count(*) from smsin where msgbody like 'stored %'") of 5)"

t0=$(now_ms)
sql "insert into smsout(phone, msgbody) values('+4917012345678', 'first')"
first="none within 60 s"
for _ in $(seq 3000); do
  t1=$(submissions_since "$t0" | head -n1)
  if [ -n "$t1" ]; then first=$(seconds $((t1 - t0))); break; fi
  sleep 0.02
done
stop_run

# --- Run 2: retry interval 0, 60 messages queued at once --------------------------------
start_run burst 0
values=$(for i in $(seq 1 60); do printf "('+49170%07d', 'outbound %d')," "$i" "$i"; done)
t0=$(now_ms)
sql "insert into smsout(phone, msgbody) values ${values%,}"
rate="not all 60 submitted within 300 s"
for _ in $(seq 3000); do
  if [ "$(submissions_since "$t0" | wc -l)" -ge 60 ]; then
    last=$(submissions_since "$t0" | tail -n1)
    rate=$(awk -v ms=$((last - t0)) 'BEGIN { printf "%.0f/min (%.3f s per message, last after %.1f s)", 60 * 60000 / ms, ms / 60000, ms / 1000 }')
    break
  fi
  sleep 0.1
done
stop_run

echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-58s %s\n' \
  "20 messages announced by +CMTI at once, all stored" "$burst" \
  "5 messages left in the store without indication, stored" "$stored" \
  "first submission after the insert (defaults)" "$first" \
  "outbound, 60 messages, retry interval 0" "$rate" \
  "idle CPU over ${IDLE_SECONDS} s (/proc stat ticks)" "$idle_cpu" \
  "idle CPU over ${IDLE_SECONDS} s (/proc schedstat)" "$idle_precise" \
  "idle memory" "RSS $rss, PSS $pss, $threads threads"
