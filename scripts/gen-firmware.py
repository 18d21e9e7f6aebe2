#!/usr/bin/env python3
"""Writes the four placeholder firmware images into resources/firmware/.

The images stand in for the pedal's firmware until a vendor drops in the
real files of the same sizes. Their bytes are pseudo-random from a fixed seed
(SplitMix64, written out here so that no library's generator can change the
output), so every run writes the same files, every byte value occurs in each
image and the 7-bit packing's high bits are exercised throughout.

Usage: scripts/gen-firmware.py [--check] [output-directory]
  --check  compare the existing files with what would be written; exit 1 on
           any difference instead of writing.
"""

import pathlib
import sys

# identifier -> size in bytes; the sizes the flash plan writes.
IMAGES = {
    129: 720_896,
    133: 12_288,
    136: 262_144,
    137: 2_912_256,
}

SEED = 0x4B56_2002_0000_0000
MASK64 = (1 << 64) - 1


def splitmix64(state):
    """Yields 64-bit values from `state`, forever."""
    while True:
        state = (state + 0x9E3779B97F4A7C15) & MASK64
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK64
        yield z ^ (z >> 31)


def image_bytes(resource_id, size):
    """The bytes of one image: its own stream, seeded by SEED and its id."""
    stream = splitmix64((SEED ^ (resource_id * 0x1000193)) & MASK64)
    words = (size + 7) // 8
    out = bytearray()
    for _ in range(words):
        out += next(stream).to_bytes(8, "little")
    data = bytes(out[:size])
    missing = set(range(256)) - set(data)
    if missing:
        raise SystemExit(f"image {resource_id}: byte values {sorted(missing)[:8]} never occur")
    return data


def main(argv):
    check = "--check" in argv
    args = [a for a in argv if a != "--check"]
    root = pathlib.Path(__file__).resolve().parent.parent
    target = pathlib.Path(args[0]) if args else root / "resources" / "firmware"
    target.mkdir(parents=True, exist_ok=True)
    differs = False
    for resource_id, size in IMAGES.items():
        data = image_bytes(resource_id, size)
        path = target / f"{resource_id}.bin"
        if check:
            if not path.is_file() or path.read_bytes() != data:
                print(f"{path}: differs from the generated image", file=sys.stderr)
                differs = True
        else:
            path.write_bytes(data)
            print(f"{path}: {size} bytes")
    return 1 if differs else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
