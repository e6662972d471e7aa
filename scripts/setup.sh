#!/usr/bin/env bash
# Installs every Debian package the project needs. Idempotent and non-interactive;
# runs as root or through sudo.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build ccache pkg-config git python3
  clang libclang-rt-14-dev
  # links the many test programs several times faster than the default linker
  lld
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # platform layer
  libicu-dev libssl-dev libpugixml-dev nlohmann-json3-dev libcurl4-openssl-dev
  libsqlite3-dev libavahi-compat-libdnssd-dev libglib2.0-dev zlib1g-dev
  # WebSocket messages: whole JSON texts parsed before the nlohmann tree is built
  libsimdjson-dev
  # telemetry tests: the SQLite shell checks stores, ip and unshare change routes in a private namespace
  sqlite3 iproute2 util-linux
  # media
  ffmpeg libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev libtiff-dev
  libcairo2-dev libturbojpeg0-dev
  # the movie reader's page ring reads ahead with io_uring
  liburing-dev
  # audio preview (libpulse); its null-sink test runs a private sound server and records with parec
  libpulse-dev pulseaudio pulseaudio-utils
  # truncated-movie check of the movie reader (loaded at run time)
  libmediainfo0v5
  # application windows
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # crash reports (protoc-c generates the reader; protoc encodes test fixtures)
  protobuf-c-compiler libprotobuf-c-dev protobuf-compiler
  # USB GPI boxes
  libusb-1.0-0-dev
  # benchmark comparisons
  libspdlog-dev
  # services started by the tests (Bonjour on loopback only)
  dbus avahi-daemon avahi-utils
  # WebSocket peers of the control tests; web server and load generator for the HTTP comparisons
  python3-websockets lighttpd apache2-utils
  # the support desk's object-store peer checks signatures with botocore; its benchmark compares with curl
  python3-botocore curl openssl
)

if [ "$(id -u)" -eq 0 ]; then as_root=(env); else as_root=(sudo -E); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
echo "setup: installed ${missing[*]}"
