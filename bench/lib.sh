# shellcheck shell=bash disable=SC1003
# Sourced by the benchmark scripts: the tools, the build, the floors and a throw-away Wine
# prefix with plainrunctl installed as the installer lays it out. Reads BENCH_* settings
# (see run.sh) and the caller's $build_arg; sets root, out, bin, exe, dll and WINEPREFIX,
# and removes the prefix and stops its server when the calling script exits.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${BENCH_OUT:-$root/out}
prefix=${BENCH_WINEPREFIX:-$out/bench-prefix}
display=${BENCH_DISPLAY:-none}
# shellcheck disable=SC2034  # read by the scripts that source this one
runs=${BENCH_RUNS:-50}
# shellcheck disable=SC2034
warmup=${BENCH_WARMUP:-5}
mkdir -p "$out"
out=$(cd "$out" && pwd)
case $prefix in /*) ;; *) prefix=$PWD/$prefix ;; esac

say() { printf '== %s\n' "$*" >&2; }
die() {
  printf 'bench: %s\n' "$*" >&2
  exit 2
}

# Everything measured (the programs, the Wine server, services and desktop) runs on one
# CPU unless BENCH_CPU=all: each request to the server then wakes it on the same CPU,
# whereas waking it on another costs a virtual machine more than the work measured and
# varies from run to run (measured here: medians of 27 ms on one CPU, 100 ms on two).
cpu=${BENCH_CPU:-$(($(nproc) - 1))}
if [ "$cpu" != all ]; then
  command -v taskset >/dev/null || die "taskset (util-linux) is missing; set BENCH_CPU=all"
  taskset -pc "$cpu" $$ >/dev/null || die "cannot run on CPU $cpu (BENCH_CPU)"
fi

# ---- tools -------------------------------------------------------------------
need_packages=()
command -v hyperfine >/dev/null || need_packages+=(hyperfine)
command -v python3 >/dev/null || need_packages+=(python3)
if [ ${#need_packages[@]} -gt 0 ]; then
  say "installing ${need_packages[*]}"
  sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need_packages[@]}" >/dev/null
fi
for tool in wine wineboot wineserver; do command -v "$tool" >/dev/null || die "$tool is not installed (tools/install-deps.sh)"; done
cc=$(command -v x86_64-w64-mingw32-gcc-posix || command -v x86_64-w64-mingw32-gcc || true)
[ -n "$cc" ] || die "the MinGW-w64 C compiler is not installed (tools/install-deps.sh)"

# ---- the program and the floors ------------------------------------------------
build=${build_arg:-}
if [ -z "$build" ]; then
  say "building the windows preset"
  (cd "$root" && cmake --preset windows >/dev/null && cmake --build --preset windows >/dev/null)
  build=$root/build/windows
else
  if [ ! -f "$build/CMakeCache.txt" ]; then
    say "configuring $build"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=MinSizeRel -DPLAINRUN_TESTS=OFF >/dev/null
  fi
  say "building $build"
  cmake --build "$build" --target plainrunctl tracelib >/dev/null
fi
exe=$build/plainrunctl.exe
dll=$build/tracelib/tracelib.dll
if [ ! -f "$exe" ] || [ ! -f "$dll" ]; then die "no plainrunctl.exe or tracelib.dll in $build"; fi

bin=$out/bench-bin
mkdir -p "$bin"
say "building the floors with $(basename "$cc")"
"$cc" -O2 -s -static -mwindows "$root/bench/empty.c" -o "$bin/empty.exe"
"$cc" -O2 -s -static -mwindows "$root/bench/com_floor.c" -o "$bin/com_floor.exe" -lole32
"$cc" -O2 -s -static -mwindows -Wall -Wextra -Werror "$root/bench/probe.c" -o "$bin/probe.exe"
"$cc" -O2 -s -static -mwindows -Wall -Wextra -Werror "$root/bench/desktop.c" -o "$bin/desktop.exe"

# ---- the throw-away prefix -----------------------------------------------------
export WINEPREFIX=$prefix WINEDEBUG=-all
xvfb_pid=
desktop_pid=
own_prefix=0
cleanup() {
  local rc=$?
  if [ -n "$desktop_pid" ]; then kill "$desktop_pid" 2>/dev/null || true; fi
  if [ "$own_prefix" == 1 ]; then
    wineserver -k 2>/dev/null || true
    [ "${BENCH_KEEP_PREFIX:-0}" == 1 ] || rm -rf "$prefix"
  fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -f "$out/bench-xvfb.log"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Only ever remove a folder that is a Wine prefix.
if [ -e "$prefix" ]; then
  [ -f "$prefix/system.reg" ] || [ -d "$prefix/drive_c" ] || die "$prefix exists and is not a Wine prefix; not removing it"
  wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
fi
mkdir -p "$prefix"
own_prefix=1

# Optionally a display of its own (BENCH_DISPLAY); Wine's desktop works without one.
if [ "$display" != none ]; then
  command -v Xvfb >/dev/null || die "Xvfb is not installed (tools/install-deps.sh), or set BENCH_DISPLAY=none"
  [ ! -e "/tmp/.X${display#:}-lock" ] || die "display $display is in use; choose another with BENCH_DISPLAY"
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$out/bench-xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
  xdpyinfo -display "$display" >/dev/null 2>&1 || die "Xvfb did not start on $display"
  export DISPLAY=$display
else
  unset DISPLAY
fi

say "making the Wine prefix $prefix"
# No Mono, Gecko or menu entries: nothing measured needs them, and they cannot be fetched.
WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d' wineboot -i >/dev/null 2>&1 || die "wineboot -i failed for $prefix"
# wineboot -i ends by restarting Wine's services; a server made persistent in the middle
# of that keeps two service managers, and COM's RPC service then never starts. So the
# booting server is left to finish and exit, and a persistent one starts cleanly after it.
wineserver -w
wineserver -p || die "cannot start wineserver for $prefix"
# The registry lives in the server until it saves it, so ask the server, not the files.
if [ ! -d "$prefix/drive_c/windows/system32" ] ||
  ! wine reg query 'HKLM\Software\Microsoft\Windows NT\CurrentVersion' /v CurrentVersion >/dev/null 2>&1; then
  die "wineboot made no prefix in $prefix"
fi

install_dir="$prefix/drive_c/Program Files/Orvane"
mkdir -p "$install_dir/Data" "$prefix/drive_c/bench"
cp "$exe" "$dll" "$install_dir/"
cp "$root"/data/*.xml "$install_dir/Data/"
cp "$bin/empty.exe" "$bin/com_floor.exe" "$bin/probe.exe" "$bin/desktop.exe" "$prefix/drive_c/bench/"
wine reg add 'HKLM\SOFTWARE\Orvane\DERVO' /v Path /t REG_SZ /d 'C:\Program Files\Orvane\' /f >/dev/null 2>&1 ||
  die "cannot set the installation Path"
wine reg add 'HKCU\SOFTWARE\Orvane\DERVO' /v DisableOutlookConnector /t REG_DWORD /d 0 /f >/dev/null 2>&1 ||
  die "cannot set the flag"
# One run to check the installation: it must set the flag and write its log.
wine 'C:\Program Files\Orvane\plainrunctl.exe' /plainrun >/dev/null 2>&1 || die "plainrunctl.exe /plainrun failed"
flag=$(wine reg query 'HKCU\SOFTWARE\Orvane\DERVO' /v DisableOutlookConnector 2>/dev/null | tr -d '\r' |
  awk '/DisableOutlookConnector/ {print $3}')
[ "$flag" == 0x1 ] || die "plainrunctl.exe /plainrun did not set the flag (got '$flag')"
log=$(find "$prefix/drive_c/users" -path '*DebugLogs/logplainrunctl.csv' | head -n 1)
if [ -z "$log" ] || ! grep -q 'DisableOutlookConnector' "$log"; then die "plainrunctl.exe wrote no log"; fi

# The desktop stays open from here on, as in a user's session; otherwise Wine would close
# it between runs and charge its restart to whichever run came next.
setsid wine 'C:\bench\desktop.exe' </dev/null >/dev/null 2>&1 &
desktop_pid=$!
sleep 1
kill -0 "$desktop_pid" 2>/dev/null || die "desktop.exe did not stay running"

# With BENCH_QUIET_MS set, wait (up to 10 minutes) until the empty program starts in less
# than that many milliseconds (median of 5), i.e. until other work on the machine has
# calmed down, so that sequential measurements do not each meet a different load.
if [ -n "${BENCH_QUIET_MS:-}" ]; then
  for _ in $(seq 60); do
    median=$(python3 - "$BENCH_QUIET_MS" <<'PY'
import statistics, subprocess, sys, time
times = []
for _ in range(5):
    start = time.perf_counter()
    subprocess.call(["wine", "C:\\bench\\empty.exe"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL)
    times.append((time.perf_counter() - start) * 1e3)
print(f"{statistics.median(times):.1f}")
PY
    )
    if python3 -c "import sys; sys.exit(0 if float('$median') < float('$BENCH_QUIET_MS') else 1)"; then
      say "the empty program starts in $median ms: quiet enough"
      break
    fi
    say "the empty program starts in $median ms, not under $BENCH_QUIET_MS: waiting for the machine to calm down"
    sleep 10
  done
fi
