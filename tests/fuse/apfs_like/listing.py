# Listing a directory through an open handle. Stable, a listing resumes right after the last entry
# it returned, whatever was removed meanwhile. Shifting, it resumes at the position that entry had
# when it was returned, as APFS and HFS+ do: entries removed before it move the later ones down,
# and as many are skipped. A listing skips at most `miss_limit` entries in all (0: no limit), so
# a reader that deletes what it reads misses a bounded number per pass and a second pass finds them.
import bisect
import dataclasses

from .nodes import Node


@dataclasses.dataclass
class ListingMode:
    shifting: bool = False
    miss_limit: int = 64


class Listing:
    def __init__(self, directory: Node, mode: ListingMode):
        self.directory = directory
        self.shifting = mode.shifting
        self.misses_left = mode.miss_limit if mode.miss_limit > 0 else None
        # Cookie -> (folded key of the entry returned with it, its position then).
        self.cookies: dict[int, tuple[str, int]] = {}
        self.next_cookie = 1

    def entries_from(self, cookie: int):
        """The entries to return after `cookie` (0: from the start), with the cookie of each."""
        entries = self.directory.entries
        position = self.resume_at(cookie)
        while position < len(entries.keys):
            key = entries.keys[position]
            name, node = entries.by_key[key]
            given = self.next_cookie
            self.next_cookie += 1
            self.cookies[given] = (key, position)
            yield name, node, given
            position += 1

    def resume_at(self, cookie: int) -> int:
        if cookie == 0 or cookie not in self.cookies:
            return 0
        key, position_then = self.cookies[cookie]
        after = bisect.bisect_right(self.directory.entries.keys, key)
        if not self.shifting:
            return after
        shift = max(position_then + 1 - after, 0)
        if self.misses_left is not None:
            shift = min(shift, self.misses_left)
            self.misses_left -= shift
        self.directory.missed += shift
        return after + shift
