# Sourced by the scripts that run Windows programs under Wine: one way to
# get a prefix, a display and a clean end.
#
#   wine_prefix [DIR]    exports WINEPREFIX=DIR, or a fresh prefix in a
#                        scratch directory ($scratch) that is removed, with
#                        the prefix's programs ended, when the script exits
#   wine_session CMD...  runs CMD on a virtual display of its own
#                        (VFSPD_SCREEN, default 1024x768x24; with
#                        VFSPD_DISPLAY=own on $DISPLAY when there is one),
#                        with one wine server for the whole session, the
#                        prefix made first if it is new, and the server
#                        ended afterwards; returns CMD's status

wine_prefix() {
    export WINEDEBUG=${WINEDEBUG:--all}
    if [ -n "${1:-}" ]; then
        export WINEPREFIX=$1
    else
        scratch=$(mktemp -d -t "vfspd-$(basename "$0" .sh)-XXXXXX")
        export WINEPREFIX="$scratch/prefix"
        trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
    fi
    mkdir -p "$WINEPREFIX"
}

# The session's body. Wine ties a prefix's desktop to the display of its
# session's first program, so the prefix is made on the display the
# programs use; a prefix made without one lets them create no window. The
# server's and wineboot's output go nowhere: they outlive a pipe they hold.
_wine_session_body='
  wineserver -p >/dev/null 2>&1
  [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
  status=0
  "$@" || status=$?
  wineserver -k >/dev/null 2>&1 || true
  exit $status'

wine_session() {
    if [ "${VFSPD_DISPLAY:-}" = own ] && [ -n "${DISPLAY:-}" ]; then
        bash -c "$_wine_session_body" _ "$@"
    else
        xvfb-run -a -s "-screen 0 ${VFSPD_SCREEN:-1024x768x24}" bash -c "$_wine_session_body" _ "$@"
    fi
}
