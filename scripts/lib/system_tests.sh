#!/usr/bin/env bash
# The Linux service as it is deployed: the Debian package installed on
# booted Debian machines with a real systemd and journald (tests/system/).
# Where this machine cannot boot one, says so in one line and passes.
# Usage: scripts/lib/system_tests.sh PACKAGE.deb [CASE...]
set -euo pipefail
deb=$(realpath "$1")
shift
cd "$(dirname "$0")/../.."

# Why no machine can be booted here; nothing when one can.
why_no_machine() {
  [ "$(id -u)" -eq 0 ] || { echo "they need root"; return; }
  command -v systemd-nspawn >/dev/null || { echo "systemd-nspawn is missing"; return; }
  command -v mmdebstrap >/dev/null || { echo "mmdebstrap is missing"; return; }
  unshare --mount --pid --uts --ipc --net --fork true 2>/dev/null ||
    { echo "namespaces cannot be made here"; return; }
  local groups=(/sys/fs/cgroup) group
  [ -e /sys/fs/cgroup/cgroup.controllers ] || groups=(/sys/fs/cgroup/systemd /sys/fs/cgroup/unified)
  for group in "${groups[@]}"; do
    [ -d "$group" ] || continue
    mkdir "$group/vantrel-probe-$$" 2>/dev/null || { echo "control groups cannot be made under $group"; return; }
    rmdir "$group/vantrel-probe-$$"
  done
}
reason=$(why_no_machine)
if [ -n "$reason" ]; then
  echo "system tests skipped: no machine can be booted here ($reason)"
  exit 0
fi

source scripts/lib/debian_root.sh
# Debian 12 (systemd 252) for every case, Debian 13 (systemd 257) for the
# package installed and the journal compared with journalctl.
root=$(ensure_debian_root build/system/root bookworm)
root_13=$(ensure_debian_root build/system/root-trixie trixie)

# A later version of the same package, to upgrade to.
version=$(dpkg-deb -f "$deb" Version)
upgrade_dir=build/system/upgrade
rm -rf "$upgrade_dir"
cpack --config build/linux/CPackConfig.cmake -G DEB -B "$upgrade_dir" \
  -D CPACK_PACKAGE_VERSION="$version+1" >/dev/null
upgrade=$(realpath "$upgrade_dir/vantrel_${version}+1_amd64.deb")

# The test copy of the program traces the records each check took.
traced=$(realpath build/linux/tests/e2e/vantrel_short_timeouts)

VANTREL_SYSTEM_ROOT=$root VANTREL_SYSTEM_ROOT_13=$root_13 VANTREL_SYSTEM_TRACED=$traced \
VANTREL_SYSTEM_DEB=$deb VANTREL_SYSTEM_UPGRADE_DEB=$upgrade \
VANTREL_SYSTEM_WORK=$(realpath build/system) \
  python3 tests/system/systemd_test.py -v "$@"
