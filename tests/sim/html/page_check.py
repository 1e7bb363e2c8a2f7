#!/usr/bin/env python3
"""Opens an HTML page in headless Chromium as a reader would: fails when the
page logs anything to the console (it has no scripts, and fetches nothing, so
any message is a fault), and when its screenshot is blank.
Usage: page_check.py PAGE.html SCREENSHOT.png"""
import os
import subprocess
import sys
import tempfile
import zlib


def chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        for folder in os.environ.get("PATH", "").split(os.pathsep):
            path = os.path.join(folder, name)
            if os.access(path, os.X_OK):
                return path
    return None


def pixels(png):
    """Rows of RGB(A) bytes of an 8-bit PNG, unfiltered."""
    data = open(png, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, width, height, channels = 8, b"", 0, 0, 0
    while pos < len(data):
        length = int.from_bytes(data[pos:pos + 4], "big")
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height = int.from_bytes(body[0:4], "big"), int.from_bytes(body[4:8], "big")
            assert body[8] == 8, "not 8 bits a channel"
            channels = {2: 3, 6: 4}[body[9]]
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw, stride, rows, previous = zlib.decompress(idat), width * channels, [], bytearray(width * channels)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - channels] if x >= channels else 0
            b = previous[x]
            c = previous[x - channels] if x >= channels else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        previous = line
    return rows, channels


def main():
    page, screenshot = sys.argv[1], sys.argv[2]
    browser = chromium()
    if browser is None:
        print("no Chromium: skipped")
        return 77
    with tempfile.TemporaryDirectory() as profile:
        run = subprocess.run(
            [browser, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--user-data-dir=" + profile, "--enable-logging=stderr", "--v=0",
             # Anything the page would fetch fails, and says so on the console.
             "--host-resolver-rules=MAP * ~NOTFOUND", "--window-size=1400,2400",
             "--screenshot=" + os.path.abspath(screenshot), "file://" + os.path.abspath(page)],
            capture_output=True, text=True, timeout=120)
    console = [line for line in run.stderr.splitlines() if "CONSOLE" in line]
    if run.returncode != 0 or console or not os.path.exists(screenshot):
        print("chromium exit status", run.returncode)
        print("\n".join(console or run.stderr.splitlines()[-20:]))
        return 1
    rows, channels = pixels(screenshot)
    colours = set()
    inked = 0
    for row in rows[::4]:
        for x in range(0, len(row), channels * 4):
            colour = row[x:x + 3]
            colours.add(colour)
            inked += colour != b"\xff\xff\xff"
    print(f"{screenshot}: {len(colours)} colours, {inked} inked samples, no console messages")
    return 0 if len(colours) > 8 and inked > 1000 else 1


if __name__ == "__main__":
    sys.exit(main())
