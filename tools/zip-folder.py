#!/usr/bin/env python3
"""Zips the files of a folder into an archive that depends only on their names and bytes:
entries in sorted order, each with the same given time and the same permissions.

    zip-folder.py FOLDER ARCHIVE.zip SECONDS_SINCE_1970
"""
import os
import sys
import time
import zipfile

ZIP_EARLIEST = 315532800  # 1980-01-01: a zip entry's time cannot be earlier


def main():
    folder, archive, seconds = sys.argv[1], sys.argv[2], int(sys.argv[3])
    stamp = time.gmtime(max(seconds, ZIP_EARLIEST))[:6]
    paths = sorted(
        os.path.relpath(os.path.join(parent, name), folder).replace(os.sep, "/")
        for parent, _, names in os.walk(folder)
        for name in names
    )
    with zipfile.ZipFile(archive, "w") as out:
        for path in paths:
            entry = zipfile.ZipInfo(path, date_time=stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 3  # Unix, so that the permissions below are read
            entry.external_attr = 0o100644 << 16  # a regular file, rw-r--r--
            with open(os.path.join(folder, path), "rb") as source:
                out.writestr(entry, source.read(), compresslevel=9)


if __name__ == "__main__":
    main()
