#!/usr/bin/env bash
# hyperfine's --prepare: sets the flag to 0 before a timed run. A reset that fails is tried
# again; one that fails three times stops the measurement rather than let a /plainrun run
# that had nothing to switch pass as one that did.
for _ in 1 2 3; do
  wine reg add 'HKCU\SOFTWARE\Orvane\DERVO' /v DisableOutlookConnector /t REG_DWORD /d 0 /f >/dev/null 2>&1 && exit 0
done
exit 1
