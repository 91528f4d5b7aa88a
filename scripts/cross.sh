# shellcheck shell=bash
# Sourced by the cross-test scripts: fetching another architecture's Debian
# packages without installing them, running 32-bit ARM programs under
# qemu-arm, and the emulated suite.

# cross_apt_download ARCH DIR PACKAGE...: downloads the packages for ARCH
# into DIR/debs. apt-get with a private state directory (DIR/apt) sees ARCH
# without `dpkg --add-architecture`, and nothing is installed: `apt-get
# install libsqlite3-dev:armhf` fails whenever the armhf and amd64 versions
# differ.
cross_apt_download() {
  local arch=$1 dir=$2
  shift 2
  local state=$dir/apt
  mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$dir/debs"
  : >"$state/status"
  local apt=(apt-get -qq -o Dir::State::Lists="$state/lists" -o Dir::Cache="$state/cache"
    -o Dir::State::status="$state/status" -o APT::Architecture="$arch"
    -o APT::Architectures::="$arch" -o APT::Sandbox::User=root)
  if [ "${cross_apt_updated:-}" != "$state" ]; then
    # A mirror that is out of step for one suite (security updates, say)
    # makes update complain; the downloads say whether what we need is there.
    "${apt[@]}" update || echo "apt-get update reported errors; trying the downloads anyway" >&2
    cross_apt_updated=$state
  fi
  (cd "$dir/debs" && "${apt[@]}" download "$@")
}

# cross_emulate QEMU_ROOT LAUNCHER: ARM programs run under qemu-arm with
# QEMU_ROOT as their /, for the C library and its loader. ctest starts each
# test program through the emulator, but the tests start further ARM
# programs themselves (the daemon, eventadd, the stand-ins, a copy of the
# test program through /proc/self/exe). The kernel runs those through
# binfmt_misc: the host's entry for qemu-arm when it has one, otherwise an
# entry in a binfmt_misc instance of a user namespace of our own (Linux 6.7
# and later), which nothing outside this run sees. The entry keeps argv[0]
# (flag P): tests start stand-ins under other names, and the process list
# must show those names as on the appliance. Sets cross_binfmt.
cross_emulate() {
  local root=$1 launcher=$2
  export QEMU_LD_PREFIX=$root
  cat >"$launcher" <<EOF
#!/bin/sh
# binfmt_misc passes the program's path, its argv[0], then its arguments.
program=\$1
name=\$2
shift 2
exec $(command -v qemu-arm) -L "$root" -0 "\$name" "\$program" "\$@"
EOF
  chmod 755 "$launcher"
  cross_arm_rule=':qemu-arm:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x28\x00:\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$launcher"':P'
  if grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-arm; then
    cross_binfmt=host
  else
    cross_binfmt=private
    if ! with_binfmt true; then
      echo "cannot register qemu-arm with binfmt_misc: install qemu-user-binfmt," \
        "or run on Linux 6.7 or later as root" >&2
      exit 1
    fi
  fi
}

with_binfmt() { # command...
  if [ "$cross_binfmt" = host ]; then
    "$@"
    return
  fi
  unshare --user --map-root-user --mount -- /bin/sh -c '
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc &&
      printf "%s" "$1" >/proc/sys/fs/binfmt_misc/register || exit 125
    shift
    exec "$@"' sh "$cross_arm_rule" "$@"
}

# cross_ctest BUILD_DIR JOBS [ctest arguments]: the suite under qemu-arm, its
# output kept in BUILD_DIR/ctest.log. Sets cross_summary (ctest's verdict
# line); returns non-zero when a test failed.
cross_ctest() {
  local dir=$1 jobs=$2 status=0
  shift 2
  echo "running the suite under qemu-arm (binfmt_misc entry: $cross_binfmt)"
  (cd "$dir" && with_binfmt ctest --output-on-failure -j "$jobs" "$@") 2>&1 |
    tee "$dir/ctest.log" || status=1
  # shellcheck disable=SC2034  # read by the calling script
  cross_summary=$(grep -E 'tests passed|No tests were found' "$dir/ctest.log" | tail -n 1 || true)
  return $status
}

# cross_stripped_size STRIP FILE: the size in bytes of FILE after STRIP.
cross_stripped_size() {
  local out
  out=$(mktemp)
  "$1" -o "$out" "$2"
  stat -c %s "$out"
  rm -f "$out"
}
