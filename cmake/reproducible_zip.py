"""Rewrites a ZIP so that its bytes depend only on the names, contents and
kinds of its entries: entries in name order, all with one time, modes 0755
for folders and programs and 0644 for other files, and no extra fields (the
archive writer behind CPack records each staged file's change time, owner
and umask, which differ from one build to the next).

    reproducible_zip.py ZIP EPOCH
"""

import os
import sys
import time
import zipfile

# The earliest time a ZIP can hold: 1980-01-01 00:00:00.
ZIP_EPOCH = 315532800


def normalized(info, date_time):
    entry = zipfile.ZipInfo(info.filename, date_time)
    entry.create_system = 3  # Unix, so that the modes below count
    executable = info.is_dir() or (info.external_attr >> 16) & 0o111
    kind = 0o040000 if info.is_dir() else 0o100000
    entry.external_attr = (kind | (0o755 if executable else 0o644)) << 16
    if info.is_dir():
        entry.external_attr |= 0x10  # the MS-DOS directory bit
    entry.compress_type = zipfile.ZIP_STORED if info.is_dir() else zipfile.ZIP_DEFLATED
    return entry


def main(path, epoch):
    date_time = time.gmtime(max(int(epoch), ZIP_EPOCH))[:6]
    with zipfile.ZipFile(path) as source:
        entries = [(info, source.read(info)) for info in source.infolist()]
    rewritten = path + ".tmp"
    with zipfile.ZipFile(rewritten, "w") as target:
        for info, data in sorted(entries, key=lambda entry: entry[0].filename):
            target.writestr(normalized(info, date_time), data, compresslevel=9)
    os.replace(rewritten, path)


if __name__ == "__main__":
    main(*sys.argv[1:])
