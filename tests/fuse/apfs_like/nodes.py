# The in-memory tree: inodes with stable numbers that are never reused, and directories whose
# entries are found by folded name and listed in the order of their folded names.
import bisect
import stat
import time

from . import names


class Node:
    def __init__(self, inode: int, mode: int, uid: int, gid: int):
        self.inode = inode
        self.mode = mode
        self.uid = uid
        self.gid = gid
        self.nlink = 1
        self.rdev = 0
        self.data = bytearray()  # a file's content or a link's target
        self.xattrs: dict[bytes, bytes] = {}
        now = time.time_ns()
        self.atime_ns = self.mtime_ns = self.ctime_ns = now
        self.entries: "Entries | None" = Entries() if stat.S_ISDIR(mode) else None
        self.subdirectories = 0
        self.missed = 0  # how many entries its listings skipped

    def is_directory(self) -> bool:
        return self.entries is not None

    def touch(self) -> None:
        self.mtime_ns = self.ctime_ns = time.time_ns()


class Entries:
    """A directory's entries: folded key -> (name as created, node), and the keys sorted."""

    def __init__(self):
        self.by_key: dict[str, tuple[bytes, Node]] = {}
        self.keys: list[str] = []

    def find(self, raw_name: bytes) -> "tuple[bytes, Node] | None":
        return self.by_key.get(names.fold(names.decode(raw_name)))

    def add(self, raw_name: bytes, node: Node) -> None:
        key = names.fold(names.decode(raw_name))
        assert key not in self.by_key
        self.by_key[key] = (raw_name, node)
        bisect.insort(self.keys, key)

    def remove(self, raw_name: bytes) -> None:
        key = names.fold(names.decode(raw_name))
        del self.by_key[key]
        del self.keys[bisect.bisect_left(self.keys, key)]

    def rename_in_place(self, raw_name: bytes) -> None:
        # Another spelling of the same key: only the preserved name changes.
        key = names.fold(names.decode(raw_name))
        self.by_key[key] = (raw_name, self.by_key[key][1])

    def __len__(self) -> int:
        return len(self.keys)


class Table:
    """Every inode the filesystem ever made, by number (the root is 1)."""

    ROOT = 1

    def __init__(self):
        self.nodes: dict[int, Node] = {}
        self.next_inode = self.ROOT
        self.make(stat.S_IFDIR | 0o755, 0, 0)

    def make(self, mode: int, uid: int, gid: int) -> Node:
        node = Node(self.next_inode, mode, uid, gid)
        if node.is_directory():
            node.nlink = 2
        self.nodes[node.inode] = node
        self.next_inode += 1
        return node

    def __getitem__(self, inode: int) -> Node:
        return self.nodes[inode]

    def __contains__(self, inode: int) -> bool:
        return inode in self.nodes


def blocks_of(node: Node) -> int:
    return (len(node.data) + 511) // 512 if stat.S_ISREG(node.mode) else 0


def size_of(node: Node) -> int:
    if node.is_directory():
        return 64 + 32 * len(node.entries)
    return len(node.data)


def is_protected(node: Node) -> bool:
    return PROTECTED in node.xattrs


# The mark that makes unlink, rmdir and rename of an entry fail with EPERM, as SIP and the uchg
# and schg flags do.
PROTECTED = b"user.sorvik.protected"
