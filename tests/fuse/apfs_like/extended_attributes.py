# Extended attributes, stored as given: the protected mark of an entry is one, a few on the root
# switch the listing, and a few on a directory tell what its listings did or fill it at once.
import errno
import stat
import time

import pyfuse3

from . import nodes

# Extended attributes of the root that switch the listing at run time (for listings opened after).
LISTING = b"user.sorvik.listing"  # b"stable" or b"shifting"
MISS_LIMIT = b"user.sorvik.miss-limit"  # a decimal count, 0 for no limit
# Read only, on a directory: how many entries its listings skipped in all (a decimal count).
MISSED = b"user.sorvik.missed"
# Write only, on a directory: b"COUNT LARGEST" adds the files "f0" ... of 1 to LARGEST bytes (file i
# holds i % LARGEST + 1 bytes), far faster than creating them one by one through the kernel.
FILL = b"user.sorvik.fill"


def fail(number: int):
    return pyfuse3.FUSEError(number)


class ExtendedAttributes:
    """The extended-attribute calls of the filesystem; `node`, `add` and `mode` are the
    filesystem's."""

    async def setxattr(self, inode, name, value, ctx):
        node = self.node(inode)
        if name == MISSED:
            raise fail(errno.EPERM)
        if name == FILL:
            self.fill(inode, value, ctx)
            return
        if inode == nodes.Table.ROOT and name in (LISTING, MISS_LIMIT):
            self.switch(name, value)
        node.xattrs[name] = bytes(value)
        node.ctime_ns = time.time_ns()

    def fill(self, inode: int, value: bytes, ctx) -> None:
        try:
            count, largest = (int(word) for word in value.split())
        except ValueError:
            raise fail(errno.EINVAL) from None
        if count < 0 or largest < 1:
            raise fail(errno.EINVAL)
        for i in range(count):
            node = self.add(inode, b"f%d" % i, stat.S_IFREG | 0o644, ctx)
            node.data = bytearray(b"x" * (i % largest + 1))

    def switch(self, name: bytes, value: bytes) -> None:
        if name == LISTING:
            if value not in (b"stable", b"shifting"):
                raise fail(errno.EINVAL)
            self.mode.shifting = value == b"shifting"
            return
        try:
            self.mode.miss_limit = max(int(value), 0)
        except ValueError:
            raise fail(errno.EINVAL) from None

    async def getxattr(self, inode, name, ctx):
        node = self.node(inode)
        if name == MISSED and node.is_directory():
            return str(node.missed).encode()
        if name not in node.xattrs:
            raise fail(errno.ENODATA)
        return node.xattrs[name]

    async def listxattr(self, inode, ctx):
        return list(self.node(inode).xattrs)

    async def removexattr(self, inode, name, ctx):
        node = self.node(inode)
        if name not in node.xattrs:
            raise fail(errno.ENODATA)
        del node.xattrs[name]
        node.ctime_ns = time.time_ns()
