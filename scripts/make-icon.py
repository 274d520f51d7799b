#!/usr/bin/env python3
"""Draws the program's icon: an order ticket (white slip, printed lines, a
torn lower edge) on an orange square. Writes src/ui/win32/kavcomanda.ico,
one 32 x 32 picture in 32-bit colour. Run again after changing the drawing."""
import os
import struct

SIZE = 32


def pixel(x, y):
    orange, white, ink, clear = (0x1E, 0x78, 0xE6, 255), (250, 250, 250, 255), (70, 70, 70, 255), (0, 0, 0, 0)
    # The orange square, corners rounded by 3 pixels.
    cx = min(x, SIZE - 1 - x)
    cy = min(y, SIZE - 1 - y)
    if cx < 3 and cy < 3 and (3 - cx) ** 2 + (3 - cy) ** 2 > 10:
        return clear
    # The slip: x 8..23, y 4..27, its lower edge torn in teeth.
    if 8 <= x <= 23 and 4 <= y <= 27:
        if y >= 26 and (x % 4) in (0, 1) and y - 26 >= (x % 2):
            return orange
        # The printed lines: a heading, then rows.
        if y in (7, 8) and 10 <= x <= 21:
            return ink
        if y in (12, 15, 18, 21) and 10 <= x <= (21 if y != 18 else 17):
            return ink
        return white
    return orange


def main():
    rows = []
    for y in range(SIZE - 1, -1, -1):  # bottom-up, as a BMP
        rows.append(b"".join(struct.pack("<BBBB", *pixel(x, y)) for x in range(SIZE)))
    xor = b"".join(rows)
    and_mask = b"\0" * (SIZE * 4)  # 32 bits of mask per row, all shown (alpha decides)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    image = header + xor + and_mask
    icon = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    out = os.path.join(os.path.dirname(__file__), "..", "src", "ui", "win32", "kavcomanda.ico")
    with open(out, "wb") as f:
        f.write(icon + image)


if __name__ == "__main__":
    main()
