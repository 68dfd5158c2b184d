# Sourced by scripts that need an X server: start_xvfb starts Xvfb on the
# first free display, exports DISPLAY and sets $xvfb to its process id
# (the caller kills it when done).
start_xvfb() {
  local size=${1:-1280x1024x24} line display=""
  xvfb=""
  exec 3< <(Xvfb -displayfd 1 -screen 0 "$size" -nolisten tcp 2>/dev/null & echo "pid $!")
  for _ in 1 2; do  # the server's process id and, once it is ready, its display, in either order
    read -r line <&3 || break
    case "$line" in pid\ *) xvfb=${line#pid } ;; *) display=$line ;; esac
  done
  exec 3<&-
  [ -n "$display" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$display"
}
