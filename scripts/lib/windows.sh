# Shared by scripts/test and scripts/demo: which Windows build can run here,
# a Wine prefix inside build/, and a virtual display when none is set.
# Source it; it defines functions and sets no traps of its own.

# Sets KORVANTA_WIN_PRESET, WINE and WINESERVER. The product is the i686
# build; on hosts whose kernel cannot execute 32-bit programs (Wine's 32-bit
# loader is one) the Windows tests and the demo run the x86_64 build of the
# same sources instead.
korvanta_pick_windows_build() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    KORVANTA_WIN_PRESET=win32
    WINE=/usr/lib/wine/wine
    WINESERVER=/usr/lib/wine/wineserver32
    [ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver
  else
    KORVANTA_WIN_PRESET=win64
    WINE=/usr/lib/wine/wine64
    WINESERVER=/usr/lib/wine/wineserver64
    echo "note: this kernel cannot run 32-bit programs; Windows code runs as the x86_64 build under wine64" >&2
  fi
  export KORVANTA_WIN_PRESET WINE WINESERVER
}

# Starts Xvfb on a free display when DISPLAY is not set; remembers its pid.
korvanta_start_display() {
  KORVANTA_XVFB_PID=""
  if [ -n "${DISPLAY:-}" ]; then return 0; fi
  local n
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then break; fi
  done
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  KORVANTA_XVFB_PID=$!
  local i
  for i in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.1
  done
  export DISPLAY=":$n"
}

# One wineserver for the whole run (every program start would otherwise pay
# for a new one), and the prefix's own services started now, with their
# output sent nowhere: they outlive the first program and would keep a
# test runner's output pipe open.
korvanta_start_wine() {
  export WINEPREFIX="$1" WINEDEBUG=-all
  mkdir -p "$WINEPREFIX"
  "$WINESERVER" -p >/dev/null 2>&1 </dev/null &
  "$WINE" wineboot -i >/dev/null 2>&1 </dev/null || true
}

korvanta_stop_windows() {
  if [ -n "${WINESERVER:-}" ] && [ -n "${WINEPREFIX:-}" ]; then
    "$WINESERVER" -k >/dev/null 2>&1 || true
  fi
  if [ -n "${KORVANTA_XVFB_PID:-}" ]; then
    kill "$KORVANTA_XVFB_PID" >/dev/null 2>&1 || true
    wait "$KORVANTA_XVFB_PID" 2>/dev/null || true
  fi
}
