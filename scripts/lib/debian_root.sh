# The root folders of minimal Debian machines with systemd, for the tests
# that boot one (tests/system/): Debian 12 (systemd 252) and Debian 13
# (systemd 257). Each is made once with mmdebstrap from the Debian mirror
# this machine's apt uses, then kept: it is made again only when it is
# missing or was made with other options.

DEBIAN_ROOT_PACKAGES=systemd,systemd-sysv,dbus,libcurl4,python3
# Not installed, but downloaded into apt's cache with the package lists
# kept, so that apt in a booted machine (which has no network) can install
# what the package depends on beyond the root, as it would on a server: the
# certificate authorities, which libcurl4 only recommends.
DEBIAN_ROOT_CACHED=ca-certificates

# debian_mirror SUITE: the Debian mirror apt uses here (one-line or deb822
# sources) for SUITE, or Debian's own when none names it.
debian_mirror() {
  local suite=$1 mirror
  mirror=$({
    sed -E 's/\[[^]]*\]//' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
      awk -v suite="$suite" '$1 == "deb" && $3 == suite { print $2 }'
    cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
      awk -v suite="$suite" '
        /^[[:space:]]*$/ { if (match_suite && uri) print uri; uri = ""; match_suite = 0; next }
        /^URIs:/ { uri = $2 }
        /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) match_suite = 1 }
        END { if (match_suite && uri) print uri }'
  } | grep -E '/debian/?$' | head -n 1)
  echo "${mirror:-http://deb.debian.org/debian}"
}

# ensure_debian_root FOLDER SUITE: makes the root of SUITE in FOLDER when it
# is missing or stale and prints its path.
ensure_debian_root() {
  local folder=$1 suite=$2 mirror options args
  mkdir -p "$(dirname "$folder")"
  mirror=$(debian_mirror "$suite")
  args=(--variant=minbase --include="$DEBIAN_ROOT_PACKAGES" --skip=cleanup/apt/lists,cleanup/apt/cache
        --customize-hook="chroot \"\$1\" apt-get install --download-only -y -q $DEBIAN_ROOT_CACHED"
        "$suite")
  options="${args[*]}"
  (
    flock 9
    if [ -d "$folder" ] && [ "$(cat "$folder.options" 2>/dev/null)" = "$options" ]; then
      exit 0
    fi
    echo "-- making a Debian root with mmdebstrap ($suite from $mirror; once, then kept)" >&2
    rm -rf "$folder" "$folder.new" "$folder.options"
    mmdebstrap --quiet "${args[@]}" "$folder.new" "$mirror" >&2
    mv "$folder.new" "$folder"
    echo "$options" > "$folder.options"
  ) 9> "$folder.lock"
  echo "$(realpath "$folder")"
}
