# Sourced by the run and test commands: an X display (a virtual one when
# there is none) and a ready Wine prefix with a persistent wineserver.
export WINEPREFIX="${WINEPREFIX:-$HOME/.vorlane-wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winscard=n,b}"

vorlane_display_ok() {
  [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1
}

# Starts Xvfb on :99 unless a display answers; sets VORLANE_VIRTUAL_DISPLAY=1
# when the display is a virtual one.
vorlane_display() {
  VORLANE_VIRTUAL_DISPLAY=0
  if vorlane_display_ok; then
    return
  fi
  export DISPLAY=:99
  VORLANE_VIRTUAL_DISPLAY=1
  if ! xdpyinfo >/dev/null 2>&1; then
    rm -f /tmp/.X99-lock
    (Xvfb :99 -screen 0 1280x1024x24 -nolisten tcp >/tmp/vorlane-xvfb.log 2>&1 &)
    for _ in $(seq 1 50); do
      xdpyinfo >/dev/null 2>&1 && break
      sleep 0.1
    done
  fi
  export VORLANE_VIRTUAL_DISPLAY
}

# Runs a command with no descriptor but the standard three: Wine's daemon
# outlives the command that starts it, and would otherwise keep a lock file
# a caller holds (flock on the rig's locks) for as long as it lives.
vorlane_detached() {
  (
    for fd in /proc/$BASHPID/fd/*; do
      fd=${fd##*/}
      [ "$fd" -gt 2 ] 2>/dev/null && eval "exec $fd>&-"
    done
    exec "$@"
  )
}

vorlane_wine_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "setup: preparing the Wine prefix $WINEPREFIX (first time only)"
    vorlane_detached wineboot -i >/dev/null 2>&1 || true
  fi
  # Wine draws the window frames itself: a virtual display has no window
  # manager, and waiting for one costs seconds per window.
  if [ ! -f "$WINEPREFIX/.vorlane-unmanaged" ]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 &&
      touch "$WINEPREFIX/.vorlane-unmanaged"
  fi
  vorlane_wine_fonts
  vorlane_detached wineserver -p >/dev/null 2>&1 || true
}

# Caption buttons (minimise, maximise, close) are glyphs of the Marlett
# font. Debian's Wine does not look in its fonts package's directory, so
# without a copy in the prefix the buttons show fallback letters ("0 1 r").
vorlane_wine_fonts() {
  local fonts="$WINEPREFIX/drive_c/windows/Fonts" font
  for font in /usr/share/wine/fonts/marlett.ttf; do
    [ -f "$font" ] || continue
    [ -f "$fonts/${font##*/}" ] && continue
    mkdir -p "$fonts" && cp "$font" "$fonts/"
  done
}
