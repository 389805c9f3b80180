#!/usr/bin/env bash
# The whole program on Linux, as the demo runs it: a fresh installation posts
# the start notice and stores the highest record number; the next start with
# a new error entry posts the problems notice and stores the new number.
set -uo pipefail
out=$("$(dirname "$0")/../../scripts/demo" 2>&1)
status=$?
echo "$out"
expect() {
  if ! grep -qF -- "$1" <<<"$out"; then
    echo "missing: $1"
    status=1
  fi
}
expect '  Content-type: application/json'
expect '  User-Agent: Vantrel RESTClient/1.0'
expect '  body: {"text":"PSQL lisenssivalvonta käynnistetty Demo 1, koneen nimi demo-host"}'
expect '-- stored: "lastrecnum"=dword:00000003'
expect '  body: {"text":"Mahdollisia PSQL lisenssiongelmia Demo 1, koneen nimi demo-host"}'
expect '-- stored: "lastrecnum"=dword:00000004'
exit $status
