# Sourced by the run script and by the wine wrapper: the Wine prefix and display that
# builds, tests and the demo share. The prefix lives outside the checkout and is made once.
#
# ORBALA_ARCH: the architecture the tests and the demo run. The setup ships as 32-bit (i686) and
# runs so wherever the machine can execute 32-bit code. Some hosts run 64-bit user code only (a
# 32-bit execve fails with ENOEXEC, so Wine's 32-bit loader cannot start): there the same sources
# are built for x86_64 and run by Wine's 64-bit loader, and the 32-bit setup.exe is built but not run.
if [ -z "${ORBALA_ARCH:-}" ]; then
  if [ ! -e /lib/ld-linux.so.2 ] || /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    ORBALA_ARCH=i686   # no 32-bit loader yet (packages still to come): assume the usual host
  else
    ORBALA_ARCH=x86_64
  fi
fi
export ORBALA_ARCH
if [ "$ORBALA_ARCH" = i686 ]; then
  WINE=wine
  export WINEPREFIX=${WINEPREFIX:-/var/cache/orbala-setup/wineprefix}
else
  # Debian's wine wrapper prefers the 32-bit loader whenever it is installed: name the 64-bit one.
  WINE=/usr/lib/wine/wine64
  export WINELOADER=$WINE
  export WINEPREFIX=${WINEPREFIX:-/var/cache/orbala-setup/wineprefix-x86_64}
fi
export WINE
# A 64-bit prefix: the 32-bit setup runs under WoW64 there, as on the 64-bit Windows most users have.
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree=;mshtml="

ensure_wine_prefix() {
  if [ ! -f "$WINEPREFIX/.orbala-ready" ]; then
    echo "wine: creating prefix $WINEPREFIX" >&2
    rm -rf "$WINEPREFIX"; mkdir -p "$(dirname "$WINEPREFIX")"
    "$WINE" wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    touch "$WINEPREFIX/.orbala-ready"
  fi
  ensure_wine_fonts
}

# The Windows faces the skin and the window name, mapped to the Noto fonts the bootstrap installs,
# so that every language draws its own script: a face Wine does not know would draw nothing
# through GDI+ and a Latin-only face through GDI. Font links give GDI's own text (native edit
# boxes, system message boxes) the Arabic, Devanagari and Thai glyphs. Made once per prefix.
ensure_wine_fonts() {
  local marker="$WINEPREFIX/.orbala-fonts-1"
  [ -f "$marker" ] && return 0
  local pair face
  for pair in "Segoe UI=Noto Sans" "Microsoft YaHei=Noto Sans CJK SC" "Microsoft JhengHei=Noto Sans CJK TC" \
              "Meiryo UI=Noto Sans CJK JP" "Malgun Gothic=Noto Sans CJK KR" "batang=Noto Serif CJK KR" \
              "Nirmala UI=Noto Sans Devanagari" "Leelawadee UI=Noto Sans Thai" "Times New Roman=Noto Serif"; do
    "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "${pair%%=*}" /t REG_SZ /d "${pair#*=}" /f >/dev/null 2>&1 || return 0
  done
  local fonts="$WINEPREFIX/drive_c/windows/Fonts" noto=/usr/share/fonts/truetype/noto f
  mkdir -p "$fonts"
  for f in NotoSansArabic-Regular.ttf NotoSansDevanagari-Regular.ttf NotoSansThai-Regular.ttf; do
    [ -f "$noto/$f" ] && cp -f "$noto/$f" "$fonts/"
  done
  local links="NotoSansArabic-Regular.ttf,Noto Sans Arabic|NotoSansDevanagari-Regular.ttf,Noto Sans Devanagari|NotoSansThai-Regular.ttf,Noto Sans Thai"
  for face in "Segoe UI" "Microsoft YaHei" "Noto Sans"; do
    "$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$face" /t REG_MULTI_SZ \
      /d "$links" /s '|' /f >/dev/null 2>&1 || true
  done
  wineserver -w 2>/dev/null || true
  touch "$marker"
}

# A virtual display for Wine's windows; started once per run when none is set.
ensure_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n lock owner
  for n in $(seq 91 250); do
    lock="/tmp/.X$n-lock"
    if [ -e "$lock" ]; then
      # A lock whose server is gone is stale: clear it and take the number.
      owner=$(tr -dc '0-9' < "$lock" 2>/dev/null)
      if [ -n "$owner" ] && kill -0 "$owner" 2>/dev/null; then continue; fi
      rm -f "$lock" "/tmp/.X11-unix/X$n"
    fi
    [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    ORBALA_XVFB_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
    kill "$ORBALA_XVFB_PID" 2>/dev/null || true
  done
  echo "no free X display number" >&2; return 1
}

stop_display() {
  if [ -n "${ORBALA_XVFB_PID:-}" ]; then kill "$ORBALA_XVFB_PID" 2>/dev/null || true; wait "$ORBALA_XVFB_PID" 2>/dev/null || true; fi
}
