#!/usr/bin/env bash
# CPU of the bootloader link while it waits on a silent line, and the time to
# check a 64 MiB firmware file. Builds what it needs in build/bench-engine
# (or $BUILD) with -j2.
#   bench/cpu_wait.sh [TIMEOUT_MS]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build/bench-engine}
TIMEOUT=${1:-2000}

if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELDRA_BUILD_TESTS=OFF -DVELDRA_BUILD_GUI=OFF >/dev/null
fi
cmake --build "$BUILD" -j2 --target veldra_bootloader veldra_serial veldra-sim >/dev/null
${CXX:-c++} -std=c++20 -O2 -Wall -Wextra -Isrc bench/cpu_wait.cpp \
  "$BUILD/src/bootloader/libveldra_bootloader.a" "$BUILD/src/serial/libveldra_serial.a" -o "$BUILD/cpu_wait"

WORK=$(mktemp -d)
SIM_PID=
cleanup() {
  if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

# A bootloader that never answers: every transaction waits its full time-out.
"$BUILD/tools/sim/veldra-sim" bootloader --silent --link "$WORK/port" >"$WORK/sim.out" &
SIM_PID=$!
for _ in $(seq 100); do grep -q '^PTY ' "$WORK/sim.out" 2>/dev/null && break; sleep 0.05; done
"$BUILD/cpu_wait" link "$WORK/port" "$TIMEOUT"
kill "$SIM_PID"; wait "$SIM_PID" 2>/dev/null || true; SIM_PID=

# Line-speed upload of a 64 KiB ESP32 image to a paced simulator at 57600.
/usr/bin/python3 - "$WORK/esp.cod" <<'PY'
import os, struct, sys
img = os.urandom(64 * 1024 - 32)
hdr = b"\r\nORVcod" + bytes(14) + struct.pack("<HBBHI", 7, 0, 1, sum(img) & 0xFFFF, len(img))
open(sys.argv[1], "wb").write(hdr + img)
PY
"$BUILD/tools/sim/veldra-sim" bootloader --pace --quiet --baud 57600 --sensor-id 7 --link "$WORK/port2" \
  --expect "$WORK/esp.cod" >"$WORK/sim2.out" &
SIM_PID=$!
for _ in $(seq 100); do grep -q '^PTY ' "$WORK/sim2.out" 2>/dev/null && break; sleep 0.05; done
"$BUILD/cpu_wait" upload "$WORK/port2" "$WORK/esp.cod" || true
grep '^RESULT' "$WORK/sim2.out" || true

# A 64 MiB image with a 32-byte header (checksum over the whole image).
/usr/bin/python3 - "$WORK/big.cod" <<'PY'
import os, struct, sys
img = os.urandom(64 * 1024 * 1024 - 32)
hdr = b"\r\nORVcod" + bytes(14) + struct.pack("<HBBHI", 1, 0, 1, sum(img) & 0xFFFF, len(img))
open(sys.argv[1], "wb").write(hdr + img)
PY
"$BUILD/cpu_wait" validate "$WORK/big.cod"
"$BUILD/cpu_wait" validate "$WORK/big.cod"
