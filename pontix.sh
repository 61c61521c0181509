#!/usr/bin/env bash
# Pontix set-up and entry point on Debian 12.
#   ./pontix.sh run [ARGS...]   install what is missing, build, run the converter
#   ./pontix.sh test            install what is missing, build, run every test
#   ./pontix.sh packages        the Debian packages it needs (what .ci/run installs)
# PONTIX_CMAKE_FLAGS adds options to the configure step (for example -DPONTIX_SANITIZE=ON).
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  cmake make g++ pkg-config
  qt6-base-dev qt6-translations-l10n libxml2-dev
  googletest libgtest-dev libbenchmark-dev
  python3 python3-dbfread python3-dbf libdbd-xbase-perl
  libxcb1-dev xvfb xauth x11-utils xdotool fonts-dejavu-core
  libchm-dev libchm-bin fp-utils valgrind
  dpkg-dev file groff-base desktop-file-utils lintian
  wine wine64 gcc-mingw-w64-x86-64 procps strace
)
BUILD_DIR=${PONTIX_BUILD_DIR:-build}

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "Faltan paquetes de Debian y no se pueden instalar: no es usted root y no hay sudo." >&2
      echo "Instálelos como root con:" >&2
      echo "  apt-get install --no-install-recommends ${missing[*]}" >&2
      exit 1
    fi
    sudo=(sudo)
  fi
  echo "Instalando: ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# Build output goes to stderr so that what the converter prints can be piped.
build() {
  # shellcheck disable=SC2086
  cmake -S . -B "$BUILD_DIR" ${PONTIX_CMAKE_FLAGS:-} >&2
  cmake --build "$BUILD_DIR" -j "$(nproc)" >&2
}

case "${1:-}" in
  packages)
    echo "${PACKAGES[@]}"
    ;;
  run)
    shift
    install_missing
    build
    exec "$BUILD_DIR/app/pontix" "$@"
    ;;
  test)
    install_missing
    build
    cd "$BUILD_DIR"
    ctest --output-on-failure -j "$(nproc)"
    ;;
  *)
    echo "Uso: $0 run [argumentos] | test | packages" >&2
    exit 2
    ;;
esac
