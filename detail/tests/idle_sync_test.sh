#!/usr/bin/env bash
# An idle detail program never syncs the disk: its status ticks are commits, and the disk is synced at
# the store's checkpoints and the list's start and end only. Runs watchpanel.exe (through kestrel-panel)
# on a ready simulated printer under strace for SECONDS and counts the fsync and fdatasync calls
# while it is idle.
#   idle_sync_test.sh BIN_DIR [SECONDS]
set -euo pipefail
bin=$1
seconds=${2:-80}
command -v strace >/dev/null || { echo "idle_sync_test: strace is not installed"; exit 77; }

root=$(mktemp -d "${TMPDIR:-/tmp}/idle-sync.XXXXXX")
vprinter=
cleanup() {
  if [[ -n "$vprinter" ]]; then kill "$vprinter" 2>/dev/null || true; wait "$vprinter" 2>/dev/null || true; fi
  rm -rf "$root"
}
trap cleanup EXIT
export KESTREL_ROOT=$root KESTREL_MESSAGE_BOXES=stderr KESTREL_SPOOLER=embedded QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=$root/xdg
unset KESTREL_TEST_TIME_SCALE
# The leak checker cannot run under a tracer; the other tests of a sanitizer build check for leaks.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
mkdir -m 0700 "$XDG_RUNTIME_DIR"

printer="VELTA PG-03"
"$bin/spoolctl" install-models >/dev/null
"$bin/spoolctl" add-port LPT1: --sim >/dev/null
"$bin/spoolctl" add-printer "$printer" --driver "VELTA PG-03" --port LPT1: >/dev/null
echo '{"printers": [{"port": "LPT1:", "model": "PG-03"}]}' >"$root/printers.json"
"$bin/vprinter" run "$root/printers.json" >"$root/vprinter.log" 2>&1 &
vprinter=$!
for _ in $(seq 300); do grep -q ready "$root/vprinter.log" && break; sleep 0.1; done
grep -q ready "$root/vprinter.log" || { echo "vprinter did not start"; cat "$root/vprinter.log"; exit 1; }

strace -f -qq -tt -e trace=fsync,fdatasync,openat,execve,exit_group -e signal=none -o "$root/trace" \
  "$bin/kestrel-panel" "$printer" --seconds "$seconds" </dev/null >"$root/panel.log" 2>&1 ||
  { echo "kestrel-panel failed:"; cat "$root/panel.log"; exit 1; }
grep -q "status level 0" "$root/panel.log" || { echo "the printer never showed ready:"; cat "$root/panel.log"; exit 1; }

# The idle program: from 10 s after its start-up (the default sounds, the gap tool and the history are
# written once, synced, as any file made whole) until 10 s before the first process ends (the close
# checkpoints what the program committed).
idle=$(awk -v grace=10 '
  function secs(t,  p) { split(t, p, ":"); return p[1] * 3600 + p[2] * 60 + p[3] }
  /windows\/media\// { begun = secs($2) }
  /exit_group\(/ && !ended { ended = secs($2) }
  /(fsync|fdatasync)\(/ { at[++n] = secs($2); line[n] = $0 }
  END { for (i = 1; i <= n; ++i) if (begun && at[i] > begun + grace && at[i] < ended - grace) print line[i] }' "$root/trace")
syncs=$(grep -c . <<<"$idle" || true)
echo "idle_sync_test: $syncs disk syncs in the idle $((seconds - 20)) s of ${seconds} s of a detail program"
if ((syncs != 0)); then
  echo "$idle" | head
  exit 1
fi
