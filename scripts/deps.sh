# Sourced by the set-up scripts: makes sure Debian packages are installed.
# As root it installs what is missing; otherwise it prints the apt-get line and stops.

ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q '^install ok installed$'; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing build dependencies: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "Missing build dependencies. Run as root:"
    echo "  apt-get install -y --no-install-recommends ${missing[*]}"
    exit 1
  fi
}

# Packages every build of the project needs: compiler, build tools, test and bench libraries,
# the property-list file format of the on-disk preferences, and cairo, which paints the desk's
# status icons to PNG (its fontconfig dependency brings a sans-serif font for the digit).
PADWARDEN_BUILD_PACKAGES=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  libplist-dev libcairo2-dev)
