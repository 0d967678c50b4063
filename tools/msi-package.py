#!/usr/bin/env python3
"""What make-dist.sh needs around wixl for an installer package that depends only on its
inputs:

    msi-package.py version DLL
        the DLL's fixed file version (four numbers, from VS_FIXEDFILEINFO), which is the
        packages' ProductVersion and the File table's version of the DLL
    msi-package.py code TEXT...
        a GUID that depends only on the texts (a name-based UUID): the product code of a
        package from its kind, scope and version, the package code from its inputs' hashes
    msi-package.py set-times PACKAGE SECONDS
        sets the creation and last-save times of the package's summary information to
        SECONDS since 1970, in place: wixl stamps the time of the build there, and msibuild
        has no way to set them
"""
import hashlib
import struct
import sys
import uuid

# The name space of the component's name-based GUIDs (chosen once, never changed).
NAMESPACE = uuid.UUID("3e45dd93-3dcb-42b6-8d3b-4dc7045ffdfa")
FIXED_INFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)
# The summary information property set; PID_CREATE_DTM and PID_LASTSAVE_DTM are FILETIMEs.
SUMMARY_FORMAT = uuid.UUID("f29f85e0-4ff9-1068-ab91-08002b27b3d9").bytes_le
TIME_PROPERTIES = (12, 13)
VT_FILETIME = 64
FILETIME_1970 = 116444736000000000  # 100 ns intervals from 1601 to 1970


def fail(message):
    sys.exit("msi-package.py: " + message)


def fixed_version(dll):
    data = open(dll, "rb").read()
    at = data.find(FIXED_INFO_SIGNATURE)
    if at < 0:
        fail(dll + " has no fixed version information")
    most, least = struct.unpack_from("<II", data, at + 8)
    return "%d.%d.%d.%d" % (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)


def name_based_code(texts):
    digest = hashlib.sha256("\n".join(texts).encode()).hexdigest()
    return str(uuid.uuid5(NAMESPACE, digest)).upper()


def set_times(package, seconds):
    data = bytearray(open(package, "rb").read())
    if data.count(SUMMARY_FORMAT) != 1:
        fail(package + ": not one summary information property set")
    # The stream starts with its byte order mark, the format version, the system, a class
    # and the count of sets (28 bytes); then each set's format and its section's offset.
    start = data.find(SUMMARY_FORMAT) - 28
    if data[start:start + 2] != b"\xfe\xff":
        fail(package + ": the summary information is not where it was looked for")
    section = start + struct.unpack_from("<I", data, start + 44)[0]
    count = struct.unpack_from("<I", data, section + 4)[0]
    set_count = 0
    for index in range(count):
        pid, offset = struct.unpack_from("<II", data, section + 8 + 8 * index)
        if pid in TIME_PROPERTIES:
            if struct.unpack_from("<I", data, section + offset)[0] != VT_FILETIME:
                fail(package + ": property %d is not a time" % pid)
            struct.pack_into("<Q", data, section + offset + 4, FILETIME_1970 + seconds * 10**7)
            set_count += 1
    if set_count != len(TIME_PROPERTIES):
        fail(package + ": the summary information holds %d of its two times" % set_count)
    open(package, "wb").write(data)


def main():
    command, arguments = sys.argv[1], sys.argv[2:]
    if command == "version" and len(arguments) == 1:
        print(fixed_version(arguments[0]))
    elif command == "code" and arguments:
        print(name_based_code(arguments))
    elif command == "set-times" and len(arguments) == 2:
        set_times(arguments[0], int(arguments[1]))
    else:
        fail("usage: see the top of this file")


if __name__ == "__main__":
    main()
