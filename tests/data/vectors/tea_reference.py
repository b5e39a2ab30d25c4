#!/usr/bin/env python3
"""Computes tea.txt: TEA's reference routine with this system's own round in place of the
published one. Run with --published to get published TEA instead (zero key and block give
41ea3a0a94baa940, the published answer), which checks the word order and the loop."""
import sys

MASK = 0xFFFFFFFF


def encrypt(key16, block8, published=False):
    k = [int.from_bytes(key16[4 * i:4 * i + 4], "big") for i in range(4)]
    y = int.from_bytes(block8[:4], "big")
    z = int.from_bytes(block8[4:], "big")
    total = 0
    for _ in range(32):
        total = (total + 0x9E3779B9) & MASK
        if published:
            y = (y + ((((z << 4) & MASK) + k[0]) ^ ((z + total) & MASK) ^ ((z >> 5) + k[1]))) & MASK
            z = (z + ((((y << 4) & MASK) + k[2]) ^ ((y + total) & MASK) ^ ((y >> 5) + k[3]))) & MASK
        else:
            y = (y + (((z << 4) & MASK) + (z ^ k[0]) + ((z >> 5) ^ total) + k[1])) & MASK
            z = (z + (((y << 4) & MASK) + (y ^ k[2]) + ((y >> 5) ^ total) + k[3])) & MASK
    return y.to_bytes(4, "big") + z.to_bytes(4, "big")


RECORDS = [
    ("zero key, zero block", "00000000000000000000000000000000", 128, "0000000000000000"),
    ("the key and block of the round check", "0123456789abcdeffedcba9876543210", 128, "0123456789abcdef"),
    ("counting key, all-ones block", "000102030405060708090a0b0c0d0e0f", 128, "ffffffffffffffff"),
    ('MD5("password") as the key, as a file keyed with that password gets it',
     "5f4dcc3b5aa765d61d8327deb882cf99", 128, "4142434445464748"),
    ("48-bit key: the bytes beyond it are ignored, the key is zero-padded",
     "000102030405ffffffffffffffffffff", 48, "0102030405060708"),
    ("52-bit key: the half byte is dropped like the bytes beyond it",
     "000102030405ffffffffffffffffffff", 52, "0102030405060708"),
]

if __name__ == "__main__":
    if "--published" in sys.argv:
        print(encrypt(bytes(16), bytes(8), published=True).hex())
        sys.exit(0)
    for comment, key, bits, plain in RECORDS:
        used = bytes.fromhex(key)[:bits // 8]
        used += bytes(16 - len(used))
        print(f"# {comment}\nkey = {key}\nkeybits = {bits}\nplain = {plain}")
        print(f"cipher = {encrypt(used, bytes.fromhex(plain)).hex()}\n")
