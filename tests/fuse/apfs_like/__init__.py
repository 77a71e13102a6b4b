# An in-memory filesystem that names entries as APFS and HFS+ do, for the helper's tests.
