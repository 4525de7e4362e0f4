#!/usr/bin/env bash
# Builds the updater against a local publisher and runs a real update of an
# installation folder that holds a versioned morvane.exe.
#
#   scripts/run.sh [--served TEXT] [--installed VERSION] [--unsigned] [--headless]
#
#   --served TEXT        the version the endpoint offers (default 1.3.0); a
#                        text that is not three numbers is served as it is,
#                        unsigned, and the updater does not trust it
#   --installed VERSION  file version of the installed morvane.exe (default 1.2.0.5)
#   --unsigned           publish without the publisher's signatures (the
#                        updater then trusts no answer and says why in its log)
#   --headless           use a private Xvfb display even when $DISPLAY is set
#
# The publisher is nginx on 127.0.0.1 and a free port; it serves what our own
# publisher's tool, morvane-publish, makes of a release folder (a new
# morvane.exe and docs/whatsnew.txt): the version text and a package built
# through our zip library, whose written updater.ini makes the docs folder and
# moves both files into place. The updater is built with the publisher's
# public key (of build-demo/publisher-key.pem, made once with openssl) and
# the tool signs the package and the version answer with the private key.
# With a display the window opens there for the user. Without one the
# updater runs under Xvfb: the script saves a screenshot of the window with
# its first message box, says where it is, answers Yes to an offered update
# and waits for the update to finish. Either way it then shows the
# installation folder before and after.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
served=1.3.0
installed=1.2.0.5
headless=0
signed=1

usage() { awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; }

while [ $# -gt 0 ]; do
  case "$1" in
    --served) [ $# -ge 2 ] || { usage >&2; exit 2; }; served=$2; shift 2 ;;
    --installed) [ $# -ge 2 ] || { usage >&2; exit 2; }; installed=$2; shift 2 ;;
    --unsigned) signed=0; shift ;;
    --headless) headless=1; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "run: unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
done
# The version goes into the executable's package note as JSON: numbers only.
if ! [[ $installed =~ ^[0-9]+(\.[0-9]+){0,3}$ ]]; then
  echo "run: --installed takes up to four dot-separated numbers, not '$installed'" >&2
  exit 2
fi

bash "$repo/scripts/setup.sh"

work=$repo/build-demo
build=$repo/build-run
publisher=$work/publisher
install=$work/install
screenshot=$work/updater-screen.png

pids=()
cleanup() {
  # Only what this script started, newest first.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits up to about ten seconds for a command to succeed.
wait_for() {
  for _ in $(seq 100); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# --- the publisher -----------------------------------------------------------
port=$(free_port)
rm -rf "$publisher"
mkdir -p "$publisher/www" "$publisher/logs" "$publisher/tmp"

user_line=""
# As root nginx would hand its workers to "nobody", who may not read the tree.
[ "$(id -u)" -eq 0 ] && user_line="user $(id -un) $(id -gn);"
cat >"$publisher/nginx.conf" <<EOF
$user_line
worker_processes 1;
pid $publisher/nginx.pid;
error_log $publisher/logs/error.log;
events { worker_connections 64; }
http {
    access_log $publisher/logs/access.log;
    client_body_temp_path $publisher/tmp/body;
    proxy_temp_path $publisher/tmp/proxy;
    fastcgi_temp_path $publisher/tmp/fastcgi;
    uwsgi_temp_path $publisher/tmp/uwsgi;
    scgi_temp_path $publisher/tmp/scgi;
    types { text/plain php; application/zip zip; }
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$port;
        root $publisher/www;
    }
}
EOF
nginx -p "$publisher" -c "$publisher/nginx.conf" -g 'daemon off;' &
pids+=("$!")
# Any answer will do: nothing is published yet.
if ! wait_for curl -sS -o /dev/null "http://127.0.0.1:$port/"; then
  echo "run: nginx did not come up; see $publisher/logs/error.log" >&2
  exit 1
fi
echo "run: publisher on 127.0.0.1:$port serves version '$served'"

# --- the publisher's key pair ---------------------------------------------------
# The private key stays with the publisher; the updater is built with the
# public one, as the base64 text of its 32 bytes.
key=$work/publisher-key.pem
mkdir -p "$work"
[ -f "$key" ] || openssl genpkey -algorithm ed25519 -out "$key"
public_key=$(openssl pkey -in "$key" -pubout -outform DER | tail -c 32 | base64)
echo "run: publisher's public key $public_key"

# --- the program, built for this publisher -----------------------------------
cmake -S "$repo" -B "$build" -G Ninja -DUPDATER_BUILD_TESTS=OFF \
  -DMORVANE_VERSION_HOST="127.0.0.1:$port" -DMORVANE_PACKAGE_HOST="127.0.0.1:$port" \
  -DMORVANE_PACKAGE_KEY="$public_key" >/dev/null
cmake --build "$build" -j2

# --- the package, published with our own tool ---------------------------------
# The new morvane.exe carries the served version (a.b.c is read as a.b.0.c),
# so that a second run finds nothing newer.
IFS=. read -r s1 s2 s3 _ <<<"$served.."
s1=${s1//[^0-9]/}; s2=${s2//[^0-9]/}; s3=${s3//[^0-9]/}
new_version="${s1:-0}.${s2:-0}.0.${s3:-0}"
release=$work/release
rm -rf "$release"
mkdir -p "$release/docs"
echo 'int main(void) { return 0; }' |
  gcc -x c - -o "$release/morvane.exe" \
    -Xlinker --package-metadata="{\"type\":\"app\",\"name\":\"morvane\",\"version\":\"$new_version\"}"
printf 'Morvane %s\nWhat is new: everything.\n' "$new_version" >"$release/docs/whatsnew.txt"
sign=(--key "$key")
[ "$signed" -eq 1 ] || sign=()
"$build/publisher/morvane-publish" "${sign[@]}" "$release" "${s1:-0}.${s2:-0}.${s3:-0}" "$publisher/www"
# The endpoint answers what was asked for: the tool's own answer when that
# is the version it published, the text as it is otherwise.
if [ "$served" != "${s1:-0}.${s2:-0}.${s3:-0}" ]; then
  printf '%s' "$served" >"$publisher/www/clientfiles/morvane/version.php"
fi
echo "run: package morvane.zip brings morvane.exe $new_version"

# --- the installation ----------------------------------------------------------
rm -rf "$install"
cmake --install "$build" --prefix "$install" >/dev/null
# -Xlinker, not -Wl: the compiler driver would split the JSON at its commas.
echo 'int main(void) { return 0; }' |
  gcc -x c - -o "$install/morvane.exe" \
    -Xlinker --package-metadata="{\"type\":\"app\",\"name\":\"morvane\",\"version\":\"$installed\"}"
echo "run: installation folder $install (morvane.exe $installed)"

show_install() {
  echo "run: $1:"
  (cd "$install" && find . -path ./temp -prune -o -print | sort | sed 's/^/    /')
  echo "    morvane.exe version: $("$build/scripts/tools/file_version" "$install/morvane.exe")"
  [ -f "$install/NoteError.txt" ] && sed 's/^/    log: /' "$install/NoteError.txt"
  return 0
}
show_install "before"

# --- the window --------------------------------------------------------------
if [ -n "${DISPLAY:-}" ] && [ "$headless" -eq 0 ]; then
  echo "run: opening the updater on $DISPLAY"
  "$install/updater" && status=0 || status=$?
  echo "run: updater ended with status $status"
  show_install "after"
  exit "$status"
fi

# Xvfb picks a free display number itself and writes it to the descriptor.
displayfile=$work/xvfb-display
: >"$displayfile"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" 2>"$work/xvfb.log" &
pids+=("$!")
if ! wait_for test -s "$displayfile"; then
  echo "run: Xvfb did not start; see $work/xvfb.log" >&2
  exit 1
fi
display=:$(head -n1 "$displayfile")
echo "run: no display in use; running the updater under Xvfb on $display"

# A private runtime folder, as a desktop session would give.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

DISPLAY=$display QT_QPA_PLATFORM=xcb "$install/updater" &
updater=$!
pids+=("$updater")

# The updater's visible windows: its own, and a message box when one is up.
windows() { DISPLAY=$display xdotool search --onlyvisible --name . 2>/dev/null || true; }
# The window opens at once; the version check and its first message box
# follow within moments.
echo "run: waiting up to 30 s for the updater's first message box"
for _ in $(seq 300); do
  kill -0 "$updater" 2>/dev/null || break
  [ "$(windows | wc -l)" -ge 2 ] && break
  sleep 0.1
done
if ! kill -0 "$updater" 2>/dev/null; then
  wait "$updater" && status=0 || status=$?
  echo "run: the updater ended by itself (status $status) before it showed a box" >&2
  show_install "after"
  exit 1
fi
DISPLAY=$display QT_QPA_PLATFORM=xcb "$build/scripts/tools/grab_screen" "$screenshot"
echo "run: screenshot of the window and its box saved to $screenshot"

# Answer the box the way a user would: Yes is its default button. Without a
# window manager the newest window gets the keyboard focus by hand.
box=$(windows | tail -n1)
if [ -n "$box" ]; then
  echo "run: answering the box \"$(DISPLAY=$display xdotool getwindowname "$box")\" with its default button"
  DISPLAY=$display xdotool windowfocus --sync "$box" key Return || true
fi
# The run has stopped with the window open when no box is up and it either
# logged why or, seconds after the answer, has not begun a download.
stopped() {
  [ "$(windows | wc -l)" -lt 2 ] &&
    { [ -s "$install/NoteError.txt" ] || { [ "$1" -ge 5 ] && [ ! -e "$install/temp" ]; }; }
}
echo "run: waiting up to 60 s for the updater to install the update and end"
for second in $(seq 60); do
  for _ in $(seq 10); do
    kill -0 "$updater" 2>/dev/null || break 2
    sleep 0.1
  done
  stopped "$second" && break
  if [ $((second % 10)) -eq 0 ]; then
    got=$(stat -c %s "$install/temp/morvane.zip" 2>/dev/null || echo 0)
    echo "run: still waiting after $second s (the package in temp has $got bytes)"
  fi
done
if kill -0 "$updater" 2>/dev/null; then
  # One cause, read from what the updater itself says: its log, else the
  # box it shows, else its status line.
  DISPLAY=$display QT_QPA_PLATFORM=xcb "$build/scripts/tools/grab_screen" "$work/updater-open.png"
  if [ -s "$install/NoteError.txt" ]; then
    echo "run: the updater stays open; it logged: $(tail -n1 "$install/NoteError.txt")"
  elif [ "$(windows | wc -l)" -ge 2 ]; then
    echo "run: the updater waits for an answer to a box; see $work/updater-open.png"
  else
    echo "run: the updater stays open: no update was offered (the box answered above said why); see $work/updater-open.png"
  fi
else
  wait "$updater" && status=0 || status=$?
  echo "run: updater ended with status $status"
fi
show_install "after"
