# Prepares the Wine prefix and starts one Wine server for a test run.
#
# A new prefix is made and set to draw no windows (hidden windows and timers
# work without a display) in a session of its own, which then ends: the
# desktop process of a session keeps the graphics driver it started with.
# Then one persistent server starts, detached, and a detached wineboot brings
# Wine's own service processes up under it, so that they never hold the
# output pipe of a test and each test starts quickly. `wineserver -k` ends it.
start_wine_session() {
  export WINEDEBUG=-all
  export WINEPREFIX="${WINEPREFIX:-$HOME/.wine}"
  wineserver -k >/dev/null 2>&1 || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    setsid wineboot --init >/dev/null 2>&1 </dev/null
  fi
  setsid wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 </dev/null
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  setsid wineserver -p >/dev/null 2>&1 </dev/null &
  sleep 1
  setsid wineboot >/dev/null 2>&1 </dev/null
}
