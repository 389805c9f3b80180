#!/usr/bin/env python3
"""Checks lines of 'EXPECTED_UTF8_HEX<TAB>JSON': each JSON must parse and be
{"text": expected}; exits 1 naming the first line that is not."""
import json
import sys

with open(sys.argv[1], "rb") as cases:
    for number, raw in enumerate(cases, 1):
        hex_text, _, json_bytes = raw.rstrip(b"\n").partition(b"\t")
        expected = "" if hex_text == b"-" else bytes.fromhex(hex_text.decode()).decode("utf-8")
        try:
            doc = json.loads(json_bytes.decode("utf-8"))
        except ValueError as error:
            sys.exit(f"line {number}: {json_bytes!r} does not parse: {error}")
        if doc != {"text": expected}:
            sys.exit(f"line {number}: {json_bytes!r} is not {{'text': {expected!r}}}")
