# Sourced by the quick-start scripts: makes sure the Debian packages named in
# $PAGEMEND_PACKAGES are installed, installing the missing ones when run as root.
ensure_packages() {
  if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "Not a Debian system: make sure these (or your system's equivalents) are installed: $*" >&2
    return 0
  fi
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing missing packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them first, for example: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
}
