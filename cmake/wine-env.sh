# Sourced by the Wine launchers: picks the Wine loader and prefix for the
# program "$1" (a 32-bit program gets a 32-bit prefix of its own, and Wine's
# 32-bit loader, which Debian's wine32:i386 provides), keeps Wine quiet.
# $KVR_WINE_KIND names a prefix apart ("gui": programs with windows get a Wine
# server of their own, whose desktop knows their X display, even while
# headless tests run beside them). $KVR_WINEDEBUG, when set, is Wine's
# WINEDEBUG instead of silence (KVR_WINEDEBUG=err+all to see Wine's errors).
machine=$(od -An -tx2 -j "$(( $(od -An -tu4 -j60 -N4 "$1" 2>/dev/null || echo 0) + 4 ))" -N2 "$1" 2>/dev/null | tr -d ' ')
if [ "$machine" = 014c ]; then
  : "${WINEPREFIX:=${KVR_WINEPREFIX_I686:-$HOME/.cache/kvr-windows/wineprefix-i686${KVR_WINE_KIND:+-$KVR_WINE_KIND}}}"
  export WINEARCH=win32
  wine=$(command -v wine || echo /usr/lib/wine/wine)
else
  : "${WINEPREFIX:=${KVR_WINEPREFIX:-$HOME/.cache/kvr-windows/wineprefix${KVR_WINE_KIND:+-$KVR_WINE_KIND}}}"
  wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
fi
export WINEPREFIX WINEDEBUG=${KVR_WINEDEBUG:--all}
