# Installs the Debian packages a build or a test run needs, when missing.
# Sourced by scripts/run and scripts/test; needs root (or sudo) only when
# something is actually missing.

# The packages whose binaries or files are already there are skipped, so a
# ready machine never calls apt-get.
zarvelin_missing_packages() {
  local pkg missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$pkg")
  done
  echo "${missing[@]}"
}

zarvelin_install() {
  local missing
  missing=$(zarvelin_missing_packages "$@")
  [ -z "$missing" ] && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  echo "installing: $missing" >&2
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q >&2
  # shellcheck disable=SC2086
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing >&2
}

ZARVELIN_BUILD_PACKAGES=(cmake g++ make)
