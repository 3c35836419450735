# shellcheck shell=bash disable=SC1003
# Sourced by run.sh and steps.sh with their arguments: builds plainrunctl.exe (in BUILD_DIR,
# default build/windows) and the programs in bench/, and installs them in a throw-away Wine
# prefix without a display whose server and desktop run until the calling script exits.
# Sets root, bin (where the results go) and prefix.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath -m "${1:-$root/build/windows}")
bin=$build/bench
prefix=$bin/prefix
die() {
  printf 'bench: %s\n' "$*" >&2
  exit 2
}

# Everything runs on one CPU unless BENCH_CPU=all: a Wine server woken on another CPU costs a
# virtual machine more than the work measured, and a different amount each time.
cpu=${BENCH_CPU:-$(($(nproc) - 1))}
[ "$cpu" == all ] || taskset -pc "$cpu" $$ >/dev/null || die "cannot run on CPU $cpu (BENCH_CPU)"

"$root/tools/install-deps.sh" >&2
[ -f "$build/CMakeCache.txt" ] || (cd "$root" && cmake --preset windows -B "$build" >/dev/null)
cmake --build "$build" --target plainrunctl tracelib >/dev/null
mkdir -p "$bin"
for program in empty com_floor desktop probe; do
  x86_64-w64-mingw32-gcc-posix -O2 -s -static -mwindows -Wall -Wextra -Werror "$root/bench/$program.c" \
    -o "$bin/$program.exe" -lole32
done

# Only ever remove a folder that is a Wine prefix.
[ ! -e "$prefix" ] || [ -d "$prefix/drive_c" ] || die "$prefix is not a Wine prefix; not removing it"
export WINEPREFIX=$prefix WINEDEBUG=-all
unset DISPLAY
trap 'bash "$root/tools/wine_prefix.sh" cleanup "$prefix" none >/dev/null' EXIT
trap 'exit 130' INT TERM
bash "$root/tools/wine_prefix.sh" setup "$prefix" none >&2 || die "no Wine prefix in $prefix"

install_dir="$prefix/drive_c/Program Files/Orvane"
mkdir -p "$install_dir/Data" "$prefix/drive_c/bench"
cp "$build/plainrunctl.exe" "$build/tracelib/tracelib.dll" "$install_dir/"
cp "$root"/data/*.xml "$install_dir/Data/"
cp "$bin"/*.exe "$prefix/drive_c/bench/"
wine reg add 'HKLM\SOFTWARE\Orvane\DERVO' /v Path /t REG_SZ /d 'C:\Program Files\Orvane\' /f >/dev/null 2>&1 ||
  die "cannot set the installation Path"

# The desktop stays open, as in a user's session; otherwise Wine would close it between runs
# and charge its restart to whichever run came next.
setsid wine 'C:\bench\desktop.exe' </dev/null >/dev/null 2>&1 &
sleep 1
kill -0 $! 2>/dev/null || die "desktop.exe did not stay running"
