# The filesystem's answers to the kernel: lookups by folded name, creates that fail with EEXIST on
# any spelling of an existing name, protected entries that cannot be unlinked, removed or renamed,
# and real sizes.
import errno
import os
import stat
import time

import pyfuse3

from . import nodes
from .extended_attributes import ExtendedAttributes, fail
from .listing import Listing, ListingMode


class ApfsLikeOperations(ExtendedAttributes, pyfuse3.Operations):
    enable_writeback_cache = False

    def __init__(self, mode: ListingMode):
        super().__init__()
        self.table = nodes.Table()
        self.mode = mode
        self.open_listings: dict[int, Listing] = {}
        self.next_handle = 1

    # Attributes.

    def attributes(self, node: nodes.Node) -> pyfuse3.EntryAttributes:
        attr = pyfuse3.EntryAttributes()
        attr.st_ino = node.inode
        attr.generation = 0
        # Nothing cached: every spelling is looked up again, so no stale name survives a removal.
        attr.entry_timeout = 0
        attr.attr_timeout = 0
        attr.st_mode = node.mode
        attr.st_nlink = node.nlink
        attr.st_uid = node.uid
        attr.st_gid = node.gid
        attr.st_rdev = node.rdev
        attr.st_size = nodes.size_of(node)
        attr.st_blksize = 4096
        attr.st_blocks = nodes.blocks_of(node)
        attr.st_atime_ns = node.atime_ns
        attr.st_mtime_ns = node.mtime_ns
        attr.st_ctime_ns = node.ctime_ns
        return attr

    def node(self, inode: int) -> nodes.Node:
        if inode not in self.table:
            raise fail(errno.ENOENT)
        return self.table[inode]

    def directory(self, inode: int) -> nodes.Node:
        node = self.node(inode)
        if not node.is_directory():
            raise fail(errno.ENOTDIR)
        return node

    async def getattr(self, inode, ctx=None):
        return self.attributes(self.node(inode))

    async def setattr(self, inode, attr, fields, fh, ctx):
        node = self.node(inode)
        if fields.update_size:
            size = attr.st_size
            del node.data[size:]
            node.data.extend(bytes(size - len(node.data)))
            node.touch()
        if fields.update_mode:
            node.mode = stat.S_IFMT(node.mode) | stat.S_IMODE(attr.st_mode)
        if fields.update_uid:
            node.uid = attr.st_uid
        if fields.update_gid:
            node.gid = attr.st_gid
        if fields.update_atime:
            node.atime_ns = attr.st_atime_ns
        if fields.update_mtime:
            node.mtime_ns = attr.st_mtime_ns
        node.ctime_ns = time.time_ns()
        return self.attributes(node)

    async def statfs(self, ctx):
        data = pyfuse3.StatvfsData()
        data.f_bsize = data.f_frsize = 4096
        data.f_blocks = data.f_bfree = data.f_bavail = 1 << 20
        data.f_files = data.f_ffree = data.f_favail = 1 << 20
        data.f_namemax = 255
        return data

    # Names.

    async def lookup(self, parent_inode, name, ctx=None):
        found = self.directory(parent_inode).entries.find(name)
        if found is None:
            raise fail(errno.ENOENT)
        return self.attributes(found[1])

    def add(self, parent_inode: int, name: bytes, mode: int, ctx) -> nodes.Node:
        parent = self.directory(parent_inode)
        if parent.entries.find(name) is not None:
            raise fail(errno.EEXIST)
        if len(name) > 255:
            raise fail(errno.ENAMETOOLONG)
        node = self.table.make(mode, ctx.uid, ctx.gid)
        parent.entries.add(name, node)
        if node.is_directory():
            parent.subdirectories += 1
            parent.nlink += 1
        parent.touch()
        return node

    async def mkdir(self, parent_inode, name, mode, ctx):
        return self.attributes(self.add(parent_inode, name, stat.S_IFDIR | stat.S_IMODE(mode), ctx))

    async def mknod(self, parent_inode, name, mode, rdev, ctx):
        node = self.add(parent_inode, name, mode, ctx)
        node.rdev = rdev
        return self.attributes(node)

    async def symlink(self, parent_inode, name, target, ctx):
        node = self.add(parent_inode, name, stat.S_IFLNK | 0o777, ctx)
        node.data = bytearray(target)
        return self.attributes(node)

    async def readlink(self, inode, ctx):
        node = self.node(inode)
        if not stat.S_ISLNK(node.mode):
            raise fail(errno.EINVAL)
        return bytes(node.data)

    async def link(self, inode, new_parent_inode, new_name, ctx):
        node = self.node(inode)
        parent = self.directory(new_parent_inode)
        if parent.entries.find(new_name) is not None:
            raise fail(errno.EEXIST)
        parent.entries.add(new_name, node)
        node.nlink += 1
        node.ctime_ns = time.time_ns()
        parent.touch()
        return self.attributes(node)

    def detach(self, parent: nodes.Node, name: bytes, node: nodes.Node) -> None:
        parent.entries.remove(name)
        if node.is_directory():
            parent.subdirectories -= 1
            parent.nlink -= 1
            node.nlink = 0
        else:
            node.nlink -= 1
        node.ctime_ns = time.time_ns()
        parent.touch()

    def entry(self, parent_inode: int, name: bytes) -> tuple[nodes.Node, bytes, nodes.Node]:
        parent = self.directory(parent_inode)
        found = parent.entries.find(name)
        if found is None:
            raise fail(errno.ENOENT)
        return parent, found[0], found[1]

    async def unlink(self, parent_inode, name, ctx):
        parent, stored, node = self.entry(parent_inode, name)
        if node.is_directory():
            raise fail(errno.EISDIR)
        if nodes.is_protected(node):
            raise fail(errno.EPERM)
        self.detach(parent, stored, node)

    async def rmdir(self, parent_inode, name, ctx):
        parent, stored, node = self.entry(parent_inode, name)
        if not node.is_directory():
            raise fail(errno.ENOTDIR)
        if nodes.is_protected(node):
            raise fail(errno.EPERM)
        if len(node.entries):
            raise fail(errno.ENOTEMPTY)
        self.detach(parent, stored, node)

    async def rename(self, old_parent_inode, old_name, new_parent_inode, new_name, flags, ctx):
        if flags & pyfuse3.RENAME_EXCHANGE:
            raise fail(errno.EINVAL)
        old_parent, old_stored, node = self.entry(old_parent_inode, old_name)
        new_parent = self.directory(new_parent_inode)
        if nodes.is_protected(node):
            raise fail(errno.EPERM)
        existing = new_parent.entries.find(new_name)
        if existing is not None and existing[1] is node:
            # Another spelling of the same entry in the same directory: the name is respelled.
            if new_parent is old_parent:
                new_parent.entries.rename_in_place(new_name)
                new_parent.touch()
            return
        if existing is not None:
            if flags & pyfuse3.RENAME_NOREPLACE:
                raise fail(errno.EEXIST)
            target = existing[1]
            if nodes.is_protected(target):
                raise fail(errno.EPERM)
            if target.is_directory() != node.is_directory():
                raise fail(errno.EISDIR if target.is_directory() else errno.ENOTDIR)
            if target.is_directory() and len(target.entries):
                raise fail(errno.ENOTEMPTY)
            self.detach(new_parent, existing[0], target)
        self.detach(old_parent, old_stored, node)
        if node.is_directory():
            node.nlink = 2 + node.subdirectories
            new_parent.subdirectories += 1
            new_parent.nlink += 1
        else:
            node.nlink += 1
        new_parent.entries.add(new_name, node)

    # Files.

    async def open(self, inode, flags, ctx):
        node = self.node(inode)
        if flags & os.O_TRUNC:
            del node.data[:]
            node.touch()
        return pyfuse3.FileInfo(fh=inode)

    async def create(self, parent_inode, name, mode, flags, ctx):
        node = self.add(parent_inode, name, stat.S_IFREG | stat.S_IMODE(mode), ctx)
        return pyfuse3.FileInfo(fh=node.inode), self.attributes(node)

    async def read(self, fh, off, size):
        return bytes(self.table[fh].data[off : off + size])

    async def write(self, fh, off, buf):
        data = self.table[fh].data
        if off > len(data):
            data.extend(bytes(off - len(data)))
        data[off : off + len(buf)] = buf
        self.table[fh].touch()
        return len(buf)

    async def flush(self, fh):
        pass

    async def fsync(self, fh, datasync):
        pass

    async def release(self, fh):
        pass

    # Directories.

    async def opendir(self, inode, ctx):
        handle = self.next_handle
        self.next_handle += 1
        self.open_listings[handle] = Listing(self.directory(inode), self.mode_now())
        return handle

    def mode_now(self) -> ListingMode:
        return ListingMode(self.mode.shifting, self.mode.miss_limit)

    async def readdir(self, fh, start_id, token):
        for name, node, cookie in self.open_listings[fh].entries_from(start_id):
            if not pyfuse3.readdir_reply(token, name, self.attributes(node), cookie):
                break

    async def releasedir(self, fh):
        del self.open_listings[fh]

    async def fsyncdir(self, fh, datasync):
        pass
