# The root folder of a minimal Debian machine with systemd, for the tests
# that boot one (tests/system/). Made once with mmdebstrap from the Debian
# mirror this machine's apt uses, then kept: it is made again only when it
# is missing or was made with other options.

DEBIAN_ROOT_SUITE=bookworm
DEBIAN_ROOT_PACKAGES=systemd,systemd-sysv,dbus,libcurl4,python3
# Not installed, but downloaded into apt's cache with the package lists
# kept, so that apt in a booted machine (which has no network) can install
# what the package depends on beyond the root, as it would on a server: the
# certificate authorities, which libcurl4 only recommends.
DEBIAN_ROOT_CACHED=ca-certificates

# The Debian mirror apt uses here (one-line or deb822 sources), or Debian's
# own when none names the suite.
debian_mirror() {
  local mirror
  mirror=$({
    sed -E 's/\[[^]]*\]//' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
      awk -v suite="$DEBIAN_ROOT_SUITE" '$1 == "deb" && $3 == suite { print $2 }'
    cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
      awk -v suite="$DEBIAN_ROOT_SUITE" '
        /^[[:space:]]*$/ { if (match_suite && uri) print uri; uri = ""; match_suite = 0; next }
        /^URIs:/ { uri = $2 }
        /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) match_suite = 1 }
        END { if (match_suite && uri) print uri }'
  } | grep -E '/debian/?$' | head -n 1)
  echo "${mirror:-http://deb.debian.org/debian}"
}

# ensure_debian_root FOLDER: makes FOLDER/root when it is missing or stale
# and prints its path.
ensure_debian_root() {
  local folder=$1 mirror options args
  mkdir -p "$folder"
  mirror=$(debian_mirror)
  args=(--variant=minbase --include="$DEBIAN_ROOT_PACKAGES" --skip=cleanup/apt/lists,cleanup/apt/cache
        --customize-hook="chroot \"\$1\" apt-get install --download-only -y -q $DEBIAN_ROOT_CACHED"
        "$DEBIAN_ROOT_SUITE")
  options="${args[*]}"
  (
    flock 9
    if [ -d "$folder/root" ] && [ "$(cat "$folder/root.options" 2>/dev/null)" = "$options" ]; then
      exit 0
    fi
    echo "-- making a Debian root with mmdebstrap ($DEBIAN_ROOT_SUITE from $mirror; once, then kept)" >&2
    rm -rf "$folder/root" "$folder/root.new" "$folder/root.options"
    mmdebstrap --quiet "${args[@]}" "$folder/root.new" "$mirror" >&2
    mv "$folder/root.new" "$folder/root"
    echo "$options" > "$folder/root.options"
  ) 9> "$folder/root.lock"
  echo "$(realpath "$folder/root")"
}
