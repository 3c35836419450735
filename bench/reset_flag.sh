#!/usr/bin/env bash
# Resets the disable flag to 0 before a timed run. A failed reset is tried again (twice)
# and noted in $BENCH_PREPARE_LOG, so that a reset that did not happen can never pass
# unnoticed as a /plainrun run with nothing to do.
log=${BENCH_PREPARE_LOG:-/dev/null}
for attempt in 1 2 3; do
  out=$(wine reg add 'HKCU\SOFTWARE\Orvane\DERVO' /v DisableOutlookConnector /t REG_DWORD /d 0 /f 2>&1)
  rc=$?
  [ "$rc" -eq 0 ] && exit 0
  printf '%s attempt %d exit %d: %s\n' "$(date +%T.%N)" "$attempt" "$rc" "$(printf '%s' "$out" | tr -d '\r' | head -n 3)" >>"$log"
done
exit 1
