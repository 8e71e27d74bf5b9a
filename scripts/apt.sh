# Sourced by the install scripts: package installation that waits for the package manager instead of failing
# when another install holds its lock (an unattended upgrade, a second script running at the same moment).
#   apt_missing PKG...   prints the packages of the list that are not installed
#   apt_update           refreshes the package lists
#   apt_install ARG...   installs the packages (quietly; errors still show); options pass through to apt-get
SUDO=""; [ "$(id -u)" = 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

apt_missing() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

# apt waits up to the timeout for dpkg's lock itself; the package lists' lock it does not wait for, so every
# call is also retried for a while when it fails while some other apt or dpkg process runs.
_apt_retry() {
  local tries=0
  until $SUDO apt-get -o DPkg::Lock::Timeout=600 "$@"; do
    tries=$((tries + 1))
    if [ $tries -ge 60 ] || ! pgrep -x 'apt|apt-get|dpkg|unattended-upgr' >/dev/null 2>&1; then
      return 1
    fi
    echo "waiting for another package install to finish..." >&2
    sleep 10
  done
}

apt_update() { _apt_retry update -qq; }
apt_install() { _apt_retry install -y -qq "$@"; }
