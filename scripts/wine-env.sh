# Sourced by the run script and by the wine wrapper: the Wine prefix and display that
# builds, tests and the demo share. The prefix lives outside the checkout and is made once.
export WINEPREFIX=${WINEPREFIX:-/var/cache/orbala-setup/wineprefix}
# A 64-bit prefix: the 32-bit setup runs under WoW64 there, as on the 64-bit Windows most users have.
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree=;mshtml="

ensure_wine_prefix() {
  if [ ! -f "$WINEPREFIX/.orbala-ready" ]; then
    echo "wine: creating prefix $WINEPREFIX" >&2
    rm -rf "$WINEPREFIX"; mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    touch "$WINEPREFIX/.orbala-ready"
  fi
}

# A virtual display for Wine's windows; started once per run when none is set.
ensure_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n
  for n in 91 92 93 94 95 96 97 98; do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
      ORBALA_XVFB_PID=$!
      export DISPLAY=":$n"
      local i
      for i in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
      echo "Xvfb did not start on :$n" >&2; return 1
    fi
  done
  echo "no free X display number" >&2; return 1
}

stop_display() {
  if [ -n "${ORBALA_XVFB_PID:-}" ]; then kill "$ORBALA_XVFB_PID" 2>/dev/null || true; wait "$ORBALA_XVFB_PID" 2>/dev/null || true; fi
}
