"""Headless Chromium over the DevTools protocol on a pipe (fds 3 and 4,
NUL-terminated JSON), and a PNG reader for comparing screenshots."""

import base64
import json
import os
import shutil
import struct
import subprocess
import tempfile
import zlib

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--hide-scrollbars", "--force-device-scale-factor=1", "--font-render-hinting=none",
         "--remote-debugging-pipe"]


def chromium_path():
    return shutil.which("chromium") or shutil.which("chromium-browser")


class Browser:
    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="vcomplot-chromium-")
        to_child, self.out = os.pipe()
        self.inp, from_child = os.pipe()
        # The shell puts the pipe ends on the fds Chromium expects.
        self.proc = subprocess.Popen(
            ["sh", "-c", 'exec "$0" "$@" 3<&%d 4>&%d' % (to_child, from_child), chromium_path()]
            + FLAGS + ["--user-data-dir=" + self.profile],
            pass_fds=(to_child, from_child), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_child)
        os.close(from_child)
        self.buffer = b""
        self.next_id = 0
        self.session = None
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        self.call("Page.enable")

    def close(self):
        os.close(self.out)
        self.proc.kill()
        self.proc.wait()
        os.close(self.inp)
        shutil.rmtree(self.profile, ignore_errors=True)

    def message(self):
        while b"\0" not in self.buffer:
            chunk = os.read(self.inp, 1 << 16)
            if not chunk:
                raise RuntimeError("chromium closed its DevTools pipe")
            self.buffer += chunk
        text, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(text)

    def call(self, method, **params):
        self.next_id += 1
        request = {"id": self.next_id, "method": method, "params": params}
        if self.session:
            request["sessionId"] = self.session
        os.write(self.out, json.dumps(request).encode() + b"\0")
        while True:
            reply = self.message()
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (method, reply["error"]))
                return reply["result"]

    def wait_event(self, name):
        while self.message().get("method") != name:
            pass

    def open(self, path, width, height):
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=1, mobile=False)
        self.call("Page.navigate", url="file://" + os.path.abspath(path))
        self.wait_event("Page.loadEventFired")
        self.root = self.call("DOM.getDocument", depth=0)["root"]["nodeId"]

    def boxes(self, selector):
        """Border boxes as laid out: (left, top, right, bottom) per element."""
        nodes = self.call("DOM.querySelectorAll", nodeId=self.root, selector=selector)["nodeIds"]
        out = []
        for node in nodes:
            quad = self.call("DOM.getBoxModel", nodeId=node)["model"]["border"]
            xs, ys = quad[0::2], quad[1::2]
            out.append((min(xs), min(ys), max(xs), max(ys)))
        return out

    def evaluate(self, expression):
        return self.call("Runtime.evaluate", expression=expression,
                         returnByValue=True)["result"].get("value")

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", format="png")["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def pdf(self):
        return base64.b64decode(self.call("Page.printToPDF", preferCSSPageSize=True,
                                          printBackground=True)["data"])


def png_pixels(path):
    """(width, height, rows of RGB(A) bytes) of an 8-bit, non-interlaced PNG."""
    with open(path, "rb") as f:
        data = f.read()
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            if depth != 8 or colour not in (2, 6):
                raise ValueError("%s: only 8-bit RGB and RGBA are read" % path)
            step = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw, stride, rows, prev = zlib.decompress(idat), width * step, [], bytearray(width * step)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - step] if i >= step else 0
            b, c = prev[i], prev[i - step] if i >= step else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prev = line
    return width, height, step, rows


def differing_share(path_a, path_b, threshold=48):
    """Share of pixels whose channels differ by more than `threshold`."""
    wa, ha, sa, a = png_pixels(path_a)
    wb, hb, sb, b = png_pixels(path_b)
    if (wa, ha) != (wb, hb):
        return 1.0
    differing = 0
    for ra, rb in zip(a, b):
        for x in range(wa):
            if any(abs(ra[x * sa + k] - rb[x * sb + k]) > threshold for k in range(3)):
                differing += 1
    return differing / float(wa * ha)
