# Installs, with apt-get, whichever of the named Debian packages are missing.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "Installing: ${missing[*]}"
  local sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What building and running the Linux program needs.
LINUX_PACKAGES=(cmake g++ pkg-config googletest libgtest-dev libcurl4-openssl-dev libssl-dev libsystemd-dev zlib1g-dev
                systemd-journal-remote python3 openssl)
# What the Windows build, its tests under Wine and its installer package (wixl) add.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 wixl msitools)
# What making and checking the Debian package adds.
PACKAGE_PACKAGES=(dpkg-dev file lintian)
# What scripts/fuzz adds: clang with libFuzzer and the sanitizer runtimes.
FUZZ_PACKAGES=(clang libclang-rt-dev)
