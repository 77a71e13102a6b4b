#!/usr/bin/python3
# A small FUSE filesystem that behaves as APFS and HFS+ do where the helper cares, for its tests:
#
# - Names are case- and normalization-insensitive but preserving: "Caches", "CACHES" and "caches",
#   or "Café" in NFC and in NFD, are one entry, listed as it was created; creating any spelling of
#   an existing name fails with EEXIST (full case folding of the decomposed name).
# - The listing can shift (--listing shifting): a listing resumes at the position its last entry
#   had, so entries removed meanwhile before it make it skip as many later ones, up to
#   --miss-limit entries per opened listing (0: no limit).
# - An entry with the extended attribute "user.sorvik.protected" (any value) cannot be unlinked,
#   removed or renamed: EPERM, as SIP and the uchg and schg flags refuse it.
# - Real sizes, inode numbers that stay with their entry and are never reused, and a device of its
#   own, as any mounted filesystem has.
#
# Run at once: setting "user.sorvik.listing" ("stable" or "shifting") or "user.sorvik.miss-limit"
# on the root switches the listing of directories opened afterwards; "user.sorvik.missed" of a
# directory reads how many entries its listings skipped, so a test can tell they did, and setting
# "user.sorvik.fill" to "COUNT LARGEST" on one adds COUNT files of 1 to LARGEST bytes at once.
#
# Usage (as root): apfs_like_fs.py [--listing stable|shifting] [--miss-limit N] MOUNT_POINT
# It serves until the mount point is unmounted. Status 3: pyfuse3 is missing; 4: cannot mount.
import argparse
import sys

try:
    import pyfuse3
    import trio
except ImportError as missing:
    print(f"pyfuse3 (python3-pyfuse3) is not installed: {missing}", file=sys.stderr)
    sys.exit(3)

from apfs_like.listing import ListingMode
from apfs_like.operations import ApfsLikeOperations


def main() -> int:
    parser = argparse.ArgumentParser(description="An APFS-like FUSE filesystem for tests.")
    parser.add_argument("--listing", choices=("stable", "shifting"), default="stable")
    parser.add_argument("--miss-limit", type=int, default=64)
    parser.add_argument("mount_point")
    options = parser.parse_args()

    mode = ListingMode(options.listing == "shifting", max(options.miss_limit, 0))
    fuse_options = set(pyfuse3.default_options)
    fuse_options.update({"fsname=sorvik-apfs-like", "subtype=apfs-like"})
    try:
        pyfuse3.init(ApfsLikeOperations(mode), options.mount_point, fuse_options)
    except (OSError, RuntimeError) as error:
        print(f"cannot mount at {options.mount_point}: {error}", file=sys.stderr)
        return 4
    try:
        trio.run(pyfuse3.main)
    finally:
        pyfuse3.close(unmount=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
