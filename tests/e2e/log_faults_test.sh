#!/usr/bin/env bash
# What happens to the log never holds up or breaks a run.
#   lock: another process holds a byte-range lock over the whole log (shared, then exclusive),
#     as a log viewer may. /plainrun still sets the flag and ends within the time of an
#     unhindered run plus the 200 ms the library may wait in all; the log keeps whole rows
#     and takes rows again once the lock is gone.
#   full: the log folder is a full 64 KiB file system. Every run ends with 0 and leaves only
#     whole rows, and once there is room again the next run's rows are whole too. Exits 77
#     (skipped) where the test may not mount a file system.
# Arguments: lock|full plainrunctl.exe tracelib.dll data-dir [log_lock_holder.exe]
mode=$1 exe=$2 dll=$3 data=$4 holder=${5:-}
source "$(dirname "$0")/lib.sh"
install_build "$exe" "$dll" "$data"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log=$(log_file)
folder=$(dirname "$log")
rm -rf "$folder"

# "ROWS whole" for a log of whole rows only, else ROWS and the first problems found.
log_state() {
  PYTHONPATH=$e2e_dir python3 -c 'import csv_log, sys
rows, problems = csv_log.read(sys.argv[1])
print(len(rows), problems[:3] or "whole")' "$log"
}
# run_ms ARGS...: runs the program with the flag at 0 and prints how long it took in ms. Not
# through wine_program, whose wait for Wine's desktop process to let go of its output adds
# about a second; a start that Wine failed to set up (exit code 1) is made again.
run_ms() {
  local start
  set_flag 0
  for _ in 1 2 3; do
    start=$(date +%s%N)
    timeout 60 wine "$exe_win" "$@" >/dev/null 2>&1
    [ $? == 1 ] || break
  done
  echo $((($(date +%s%N) - start) / 1000000))
}

if [ "$mode" == lock ]; then
  check "first run" "$(run_ms /plainrun >/dev/null; flag)" 1
  usual=0
  for _ in 1 2 3; do
    t=$(run_ms /plainrun)
    [ "$t" -gt "$usual" ] && usual=$t
  done
  # The slowest of three unhindered runs, the budget, and 300 ms for a busy machine.
  limit=$((usual + 200 + 300))
  for kind in shared exclusive; do
    rm -f "$work/release"
    wine "$holder" "Z:$log" "$kind" "Z:$work/release" >"$work/holder.out" 2>&1 &
    holder_pid=$!
    for _ in $(seq 300); do grep -q locked "$work/holder.out" && break; sleep 0.1; done
    check "$kind lock taken" "$(tr -d "\r" <"$work/holder.out")" locked
    t=$(run_ms /plainrun)
    echo "$kind lock: /plainrun took $t ms (unhindered: at most $usual ms)"
    check "$kind lock: /plainrun within $limit ms" "$([ "$t" -le "$limit" ] && echo yes || echo "$t ms")" yes
    check "$kind lock: flag set" "$(flag)" 1
    touch "$work/release"
    wait "$holder_pid"
  done
  before=$(log_state)
  run_ms /plainrun >/dev/null
  check "rows again once the lock is gone" "$before $(log_state)" "${before%% *} whole $((${before%% *} + 15)) whole"
  finish
  exit
fi

[ "$(id -u)" == 0 ] && mkdir "$work/full" && mount -t tmpfs -o size=64k tmpfs "$work/full" ||
  { echo "cannot mount a file system here: skipped"; exit 77; }
trap 'umount "$work/full"; rm -rf "$work" "$folder"' EXIT
mkdir -p "$(dirname "$folder")"
ln -s "$work/full" "$folder"
check "run on an empty file system" "$(run /plainrun)" 0
check "log on the small file system" "$(df --output=size -k "$log" | tail -n 1 | tr -d ' ')" 64
dd if=/dev/zero of="$work/full/filler" bs=4k 2>/dev/null
for i in 1 2 3 4; do
  check "full disk, run $i" "$(run $([ $((i % 2)) == 1 ] && echo /plainrun))" 0
  state=$(log_state)
  check "full disk, run $i: log" "${state#* }" whole
done
echo "log on the full file system: $(stat -c %s "$log") bytes, $(log_state)"
before=$(log_state)
rm "$work/full/filler"
check "room again" "$(run /plainrun)" 0
check "room again: log" "$(log_state)" "$((${before%% *} + 15)) whole"
finish
