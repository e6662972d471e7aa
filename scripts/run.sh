#!/usr/bin/env bash
# Sets up the machine, builds the operator application and the stand-in node,
# and starts the application connected to a stand-in node that serves three
# sample clips, with a sample playlist of those clips open. Quitting the
# application stops the node.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly build=build/default
readonly node_name="Sample Node"
# A fixed node ID, so the saved node entry handed to the application names
# the node before it has answered.
readonly node_uid="53414D50-4C45-4E4F-4445-000000000001"
readonly data_home="${XDG_DATA_HOME:-$HOME/.local/share}/VantelioZira"
readonly media="$data_home/sample-media"
readonly playlist="$data_home/Sample Playlist.vzplaylist"
readonly node_log="$data_home/sample-node.log"
readonly listen_limit_seconds=10

bash scripts/setup.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)" --target VantelioZira node-standin make-sample-playlist

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Built under $build. The operator application needs a desktop session (neither DISPLAY nor" >&2
  echo "WAYLAND_DISPLAY is set): run this command again from a desktop session." >&2
  exit 1
fi

# Three 5 s clips (640x360, 25 fps, a test pattern with a tone), made once.
# Each is written under a hidden name first, so a half-made file is never
# taken for a clip.
make_clip() {
  local name=$1 picture=$2 frequency=$3
  [ -f "$media/$name" ] && return 0
  ffmpeg -v error -nostdin -y \
    -f lavfi -i "$picture=size=640x360:rate=25" \
    -f lavfi -i "sine=frequency=$frequency:sample_rate=48000" \
    -t 5 -c:v libx264 -preset veryfast -crf 30 -pix_fmt yuv420p -c:a aac -b:a 64k \
    -f mp4 "$media/.$name.partial"
  mv "$media/.$name.partial" "$media/$name"
}
mkdir -p "$media"
make_clip "01 Colour Bars.mp4" smptebars 1000
make_clip "02 Test Card.mp4" testsrc2 440
make_clip "03 Mandelbrot.mp4" mandelbrot 660

runtime=$(mktemp -d)
standin_pid=""
stop_standin() {
  if [ -n "$standin_pid" ]; then
    kill "$standin_pid" 2>/dev/null || true
    wait "$standin_pid" 2>/dev/null || true
  fi
  rm -rf "$runtime"
}
trap stop_standin EXIT
trap 'exit 130' INT TERM

# The node's first line names its port; it comes through a fifo so that it can
# be waited for with a time limit. The fifo stays open for reading until the
# end, so the node never writes into a closed pipe.
mkfifo "$runtime/standin-output"
# With the engine the node plays real video: a window shows its output (this is a desktop session).
node_options=()
if "$build/node-standin/node-standin" --help | grep -qx 'playout engine: built in'; then
  node_options+=(--preview)
fi
"$build/node-standin/node-standin" --listen 127.0.0.1:0 --media "$media" --name "$node_name" --uid "$node_uid" \
  "${node_options[@]}" >"$runtime/standin-output" 2>"$node_log" &
standin_pid=$!
exec 3<"$runtime/standin-output"
first_line=""
if ! IFS= read -r -t "$listen_limit_seconds" first_line <&3 ||
  [[ ! "$first_line" =~ ^listening\ on\ 127\.0\.0\.1:([0-9]+)$ ]]; then
  echo "The stand-in node did not say where it listens within $listen_limit_seconds s. Its log:" >&2
  cat "$node_log" >&2
  exit 1
fi
port=${BASH_REMATCH[1]}
echo "Stand-in node \"$node_name\" serves $media on 127.0.0.1:$port (log: $node_log)."

# The sample playlist, written from what the node reports at this start.
if ! "$build/tools/make-sample-playlist" --node "127.0.0.1:$port" --output "$playlist" 2>"$runtime/sample-playlist.log"; then
  echo "The sample playlist could not be made:" >&2
  cat "$runtime/sample-playlist.log" >&2
  exit 1
fi

# The sample node's entry at this start's port, handed to the application
# with the nodes the operator saved (the list given here stands for the saved
# one for the whole run, so nodes added by address must be carried over).
defaults_file="${XDG_CONFIG_HOME:-$HOME/.config}/com.dirarovazovo.RuzizevuZazo.plist"
saved_nodes=$(python3 - "$defaults_file" "$node_uid" "$node_name" "$port" <<'PYTHON'
import plistlib
import sys

path, uid, name, port = sys.argv[1:]
nodes = []
try:
    with open(path, "rb") as stored:
        saved = plistlib.load(stored).get("discoveredNodes", [])
    if isinstance(saved, list):
        nodes = [node for node in saved if isinstance(node, dict) and node.get("nodeUniqueID") != uid]
except (OSError, ValueError, AttributeError, plistlib.InvalidFileException):
    pass  # no saved preferences yet, or unreadable ones: the sample node alone
nodes.append({"nodeUniqueID": uid, "nodeName": name, "ipAdress": "127.0.0.1", "portNumber": port,
              "discoveredByNetServices": False})
text = plistlib.dumps(nodes, sort_keys=False).decode()
print(text[text.index("<array>"):text.rindex("</array>") + len("</array>")])
PYTHON
)

echo "Starting the operator application; quitting it stops the stand-in node."
status=0
"$build/app/VantelioZira" -discoveredNodes "$saved_nodes" "$playlist" || status=$?
exit "$status"
