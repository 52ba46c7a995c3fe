# Sourced by the set-up scripts: makes sure Debian packages are installed (on a Mac: the
# Command Line Tools and Homebrew formulae). On Debian as root it installs what is missing;
# otherwise it prints the line to run and stops.

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

# Packages the program needs: compiler, build tools, the property-list file format of the
# on-disk preferences, cairo, which paints the desk's status icons to PNG (its fontconfig
# dependency brings a sans-serif font for the digit), libedit, the prompt's line editing, and
# expat, which reads a preferences file written as XML.
PADWARDEN_PROGRAM_PACKAGES=(g++ cmake ninja-build pkg-config libplist-dev libcairo2-dev libedit-dev
  libexpat1-dev)
# What the tests and benchmarks add.
PADWARDEN_TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev)
# Every build of the project.
PADWARDEN_BUILD_PACKAGES=("${PADWARDEN_PROGRAM_PACKAGES[@]}" "${PADWARDEN_TEST_PACKAGES[@]}")

# On a Mac: the Command Line Tools, then the named commands and pkg-config modules. Prints the
# exact line that installs what is missing and stops.
ensure_mac_tools() {
  if ! xcode-select -p >/dev/null 2>&1; then
    echo "The Command Line Tools are missing. Run:"
    echo "  xcode-select --install"
    exit 1
  fi
  local missing=()
  local tool
  for tool in "$@"; do
    case $tool in
      gtest | benchmark | libplist-2.0 | cairo)
        pkg-config --exists "$tool" 2>/dev/null || missing+=("$(mac_formula "$tool")") ;;
      *) command -v "$tool" >/dev/null 2>&1 || missing+=("$(mac_formula "$tool")") ;;
    esac
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Missing build tools. Run (Homebrew, https://brew.sh):"
  echo "  brew install ${missing[*]}"
  exit 1
}

mac_formula() {
  case $1 in
    gtest) echo googletest ;;
    benchmark) echo google-benchmark ;;
    libplist-2.0) echo libplist ;;
    *) echo "$1" ;;
  esac
}

# What the Mac needs: cmake and ninja build Padwarden.app; the tests also build the simulated
# world's Linux front end (libplist, cairo) and GoogleTest and Google Benchmark.
PADWARDEN_MAC_APP_TOOLS=(cmake ninja)
PADWARDEN_MAC_TEST_TOOLS=(cmake ninja pkg-config gtest benchmark libplist-2.0 cairo)
