#!/usr/bin/python3
"""Writes the seed corpus of every fuzzer into fuzz/corpus/<fuzzer>/.

Seeds are small valid inputs: well-formed replies, answers, firmware files
and settings files, in the byte layouts the harnesses read."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def crc8(data):
    crc = 0
    for b in data:
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8C if (crc ^ b) & 1 else crc >> 1
            b >>= 1
    return crc


def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return bytes([crc & 0xFF, crc >> 8])


def reply(cmd, payload):
    body = bytes([len(payload) + 3, cmd | 0x80]) + bytes(payload)
    return b"\xF5" + body + bytes([crc8(body)])


def segment(pieces, flags=0):
    """One reply segment of the fuzz port: flags, piece count, pieces."""
    out = bytes([flags, len(pieces)])
    for delay, data in pieces:
        out += bytes([delay, len(data)]) + data
    return out


def write(name, fname, data):
    d = os.path.join(HERE, "corpus", name)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, fname), "wb") as f:
        f.write(data)


def bootloader():
    ident = reply(0x0C, [2, 5, 7])
    write("bootloader_fuzz", "transact_ident", bytes([0, 0]) + b"\x00\x00\x00" + segment([(0, ident)]))
    write("bootloader_fuzz", "transact_noise_split",
          bytes([0, 0]) + b"\x00\x00\x00" + segment([(0, b"\x00\x13"), (3, ident[:3]), (10, ident[3:])]))
    write("bootloader_fuzz", "open_19200", bytes([1, 0]) + segment([(1, ident)]))
    write("bootloader_fuzz", "open_57600_16bit",
          bytes([1, 0]) + segment([]) + b"\x00" + segment([]) + segment([(0, reply(0x0B, [2, 5, 0x2C, 1]))]))
    for mode, packets in ((2, 4), (3, 3)):
        up = bytes([mode, 5, 15]) + b"\x00" + segment([(0, reply(0x0D, [0, 0]))])
        for n in range(1, packets):
            up += segment([(1, reply(0x0D, [n, 0]))])
        up += segment([(1, reply(0x0D, [0xFE, 0xFF]))]) + segment([])
        write("bootloader_fuzz", "upload_%d" % mode, up)
        # One lost acknowledgement on the way.
        lost = bytes([mode, 5, 15]) + b"\x00" + segment([(0, reply(0x0D, [0, 0]))]) + segment([])
        lost += segment([(1, reply(0x0D, [1, 0]))])
        write("bootloader_fuzz", "upload_retry_%d" % mode, lost)


def modbus():
    def answer(frame):
        return frame + crc16(frame)
    head = lambda op, dev, reg, q: bytes([op, dev]) + struct.pack("<H", reg) + bytes([q]) + b"\x00"
    write("modbus_fuzz", "scan", head(0, 1, 0, 1) + segment([(0, answer(bytes([1, 3, 2, 0, 9])))]))
    write("modbus_fuzz", "read_regs",
          head(1, 5, 10, 2) + segment([(0, answer(bytes([5, 3, 4, 0x12, 0x34, 0x56, 0x78])))]))
    write("modbus_fuzz", "read_regs_split",
          head(1, 5, 10, 1) + segment([(0, bytes([5, 3])), (2, answer(bytes([5, 3, 2, 0, 7]))[2:])]))
    write("modbus_fuzz", "read_bits",
          head(2, 2, 0, 1) + segment([(0, answer(bytes([2, 2, 1, 0x05])))]))
    write("modbus_fuzz", "write_reg",
          head(3, 9, 0x20, 0) + b"\x34\x12" + segment([(0, answer(bytes([9, 6, 0, 0x20, 0x12, 0x34])))]))
    write("modbus_fuzz", "write_regs",
          head(4, 9, 0x20, 2) + b"\x01\x00\x02\x00" + segment([(0, answer(bytes([9, 0x10, 0, 0x20, 0, 2])))]))
    write("modbus_fuzz", "exception",
          head(1, 5, 10, 1) + segment([(0, answer(bytes([5, 0x83, 2])))], flags=4))
    # Back to back (bit 0x40 of the op byte; the byte modulo 5 is the
    # operation): the read looks past the answer, here at noise.
    write("modbus_fuzz", "read_regs_back_to_back",
          head(0x42, 5, 10, 1) + segment([(0, answer(bytes([5, 3, 2, 0, 7])) + b"\xee\xee")]))
    write("modbus_fuzz", "scan_back_to_back", head(0x41, 1, 0, 1) + segment([(0, answer(bytes([1, 3, 2, 0, 9])))]))


def cod():
    img = bytes((i * 13 + 1) & 0xFF for i in range(500))
    hdr = bytearray(b"\r\nORVcod" + bytes(24))
    struct.pack_into("<HBBHI", hdr, 22, 300, 5, 2, sum(img) & 0xFFFF, len(img))
    write("validate_fuzz", "esp32.cod", bytes(hdr) + img)
    hdr = bytearray(b"\r\nORVcod" + bytes(24))
    write("validate_fuzz", "esp32_empty.cod", bytes(hdr))
    h = bytearray(16)
    struct.pack_into("<I", h, 3, 12)
    h[7], h[8], h[9] = 1, 2, 7
    h[10:13] = b"AVR"
    h[15] = (sum(h[:15]) + 2) & 0xFF
    write("validate_fuzz", "avr.cod", bytes(h) + bytes(range(12)))


def settings():
    write("settings_fuzz", "plain.ini",
          b"[SETTINGS]\r\nMAX_RETRY=5\r\nMAX_FAILS=15\r\nTIMEOUT=1000\r\n\r\n[SENSORS]\r\n7=Level probe\r\n300=Flow meter\r\n")
    write("settings_fuzz", "bom_utf8.ini", b"\xEF\xBB\xBF[SENSORS]\n17=Dr\xC3\xBCck\n")
    write("settings_fuzz", "utf16.ini", "\ufeff[Settings]\nmax_retry=9\n".encode("utf-16-le"))
    write("settings_fuzz", "latin1.ini", b"[sensors]\n  42 = Temp\xE9rature \n;comment\nbare\n")


def codecs():
    write("codecs_fuzz", "float_one", b"\x01\x3F\x80\x00\x00" + struct.pack("<d", 123.456) + b"\x03ABC" + b"\x01\x00\x01")
    write("codecs_fuzz", "bcd", b"\x00\x34\x12\x00\x00" + struct.pack("<d", 12.5) + b"\x02Zz")


if __name__ == "__main__":
    bootloader()
    modbus()
    cod()
    settings()
    codecs()
