# Sourced by the scripts: installs the Debian packages named in its
# arguments that are missing, when run as root on Debian.
alertmill_need() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
    echo "missing packages: ${missing[*]} (install them, or run as root on Debian)" >&2
    return 1
  fi
  echo "installing: ${missing[*]}"
  if [ -z "${ALERTMILL_APT_UPDATED:-}" ]; then
    DEBIAN_FRONTEND=noninteractive apt-get update -qq >/dev/null
    export ALERTMILL_APT_UPDATED=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

alertmill_build_deps() {
  alertmill_need cmake make g++ pkg-config libsqlite3-dev sqlite3 libgtest-dev libgmock-dev \
    libbenchmark-dev tzdata iproute2 procps
}
