#!/usr/bin/env python3
"""Checks that language libraries hold every user-interface resource their program loads.

Usage: check-language-ids.py PROGRAM LIBRARY...

The program's own resources are the reference: every menu, every dialog and every string of
its string tables must also be in each library, under the same identifier. The identifiers are
read with wrestool (icoutils), a reader independent of the build's tools; the strings are found
by decoding the string-table blocks (sixteen length-prefixed UTF-16 strings each, block N
holding ids 16(N-1) to 16N-1). Prints what each library lacks; exit status 1 if any lacks
something, 2 if a file cannot be read.
"""
import re
import subprocess
import sys

MENU, DIALOG, STRING = 4, 5, 6
KINDS = {MENU: "menu", DIALOG: "dialog", STRING: "string"}


def wrestool(*args):
    return subprocess.run(["wrestool", *args], check=True, stdout=subprocess.PIPE).stdout


def interface_ids(path):
    """The set of (kind, id) of the file's menus, dialogs and non-empty strings."""
    ids = set()
    listing = wrestool("-l", path).decode("ascii", "replace")
    for line in listing.splitlines():
        found = re.match(r"--type=(\d+) --name=(\d+)", line)
        if not found:
            continue
        kind, name = int(found.group(1)), int(found.group(2))
        if kind in (MENU, DIALOG):
            ids.add((kind, name))
        elif kind == STRING:
            block = wrestool("-x", "--raw", "--type=6", "--name=%d" % name, path)
            offset = 0
            for index in range(16):
                if offset + 2 > len(block):
                    break
                length = int.from_bytes(block[offset:offset + 2], "little")
                offset += 2 + 2 * length
                if length:
                    ids.add((STRING, (name - 1) * 16 + index))
    return ids


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    try:
        reference = interface_ids(argv[1])
        if not reference:
            print("%s: no menus, dialogs or strings found" % argv[1], file=sys.stderr)
            return 2
        failed = False
        for library in argv[2:]:
            missing = sorted(reference - interface_ids(library))
            if missing:
                failed = True
                print("%s lacks: %s" % (library, ", ".join("%s %d" % (KINDS[k], i) for k, i in missing)))
            else:
                print("%s: all %d identifiers" % (library, len(reference)))
        return 1 if failed else 0
    except (OSError, subprocess.CalledProcessError) as error:
        print("check-language-ids: %s" % error, file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
