# Names as a case- and normalization-insensitive volume compares them: every spelling that folds to
# the same key is one entry, while the entry keeps the spelling it was created with.
import unicodedata


def decode(raw: bytes) -> str:
    # Bytes that are not UTF-8 still name something; they simply fold to themselves.
    return raw.decode("utf-8", "surrogateescape")


def fold(name: str) -> str:
    # Folding a decomposed text can leave it out of canonical form (a capital that folds to a letter
    # and a combining mark), so it is decomposed again. Compatibility forms stay distinct.
    return unicodedata.normalize("NFD", unicodedata.normalize("NFD", name).casefold())
