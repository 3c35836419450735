#!/usr/bin/python3
"""Makes a package that wixl wrote depend on its content alone.

seal_msi.py PACKAGE EPOCH NAMESPACE

Sets the summary information's creation and last-saved times to EPOCH (seconds since 1970)
and its package code (the revision number) to a name-based UUID in NAMESPACE made from the
SHA-256 of the package itself, so that the same files and tables give the same package, byte
for byte, and a package with any other content has another package code. Needs the
GObject bindings of libmsi (Debian: gir1.2-libmsi-1.0, python3-gi).
"""
import hashlib
import sys
import uuid

import gi

gi.require_version("Libmsi", "1.0")
from gi.repository import Libmsi  # noqa: E402

# Summary-information times are FILETIMEs: 100 ns steps since 1601-01-01.
FILETIME_1970 = 11644473600 * 10**7
# The package code while the content is hashed, the same for every package.
PLACEHOLDER = "{00000000-0000-0000-0000-000000000000}"
# Room for the properties a package's summary information holds.
SUMMARY_UPDATES = 20


def set_summary(path, filetime, package_code):
    """Writes the two times and the package code into PATH's summary information."""
    database = Libmsi.Database.new(path, Libmsi.DbFlags.TRANSACT, None)
    summary = Libmsi.SummaryInfo.new(database, SUMMARY_UPDATES)
    summary.set_filetime(Libmsi.Property.CREATED_TM, filetime)
    summary.set_filetime(Libmsi.Property.LASTSAVED_TM, filetime)
    summary.set_string(Libmsi.Property.UUID, package_code)
    summary.persist()
    database.commit()


def main(path, epoch, namespace):
    filetime = FILETIME_1970 + int(epoch) * 10**7
    set_summary(path, filetime, PLACEHOLDER)
    with open(path, "rb") as package:
        digest = hashlib.sha256(package.read()).hexdigest()
    code = "{%s}" % str(uuid.uuid5(uuid.UUID(namespace), digest)).upper()
    set_summary(path, filetime, code)
    print(code)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
