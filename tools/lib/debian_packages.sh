# Sourced by the scripts in tools/: require_debian_packages PACKAGE...
# installs the missing ones when run as root on Debian, and otherwise names
# them and stops.
require_debian_packages() {
  command -v dpkg-query >/dev/null 2>&1 || return 0  # not Debian: just try
  local missing=() package status
  for package in "$@"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [ "$status" = installed ] || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing the Debian packages the build needs: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "toneprint's build needs these Debian packages, which are missing: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
}
