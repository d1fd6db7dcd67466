"""The bitness of a Windows program or DLL, from its PE header."""
import struct

MACHINES = {0x014C: 32, 0x8664: 64}


def pe_bits(path):
    """32 or 64 for an x86 PE file; ValueError for anything else."""
    with open(path, "rb") as f:
        head = f.read(4096)
    (offset,) = struct.unpack_from("<I", head, 0x3C)
    if head[offset:offset + 4] != b"PE\0\0":
        raise ValueError(path + " is not a PE file")
    (machine,) = struct.unpack_from("<H", head, offset + 4)
    if machine not in MACHINES:
        raise ValueError("%s: machine %#x" % (path, machine))
    return MACHINES[machine]
