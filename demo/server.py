#!/usr/bin/env python3
"""A small demo comic on loopback, for trying the reader without the network.

A comic site of the usual shape: /comic/<n>.html pages show strip n with the
navigation (First, Previous, Next, Last) above and below it, the front page /
shows the newest strip the same way, and the strips are /strips/<n>.png. The
reader follows it through the plugin file demo/plugins/demo.re, and wendle can
write a plugin for it (see the README).

    python3 demo/server.py [--port 8765] [--strips 12]
"""
import argparse
import http.server
import struct
import zlib

PALETTE = [
    (231, 76, 60), (46, 134, 193), (39, 174, 96), (243, 156, 18), (142, 68, 173),
    (22, 160, 133), (211, 84, 0), (52, 73, 94), (192, 57, 43), (41, 128, 185),
    (241, 196, 15), (26, 188, 156),
]

# 5 x 7 digit glyphs, one string of 35 bits per digit (rows top to bottom).
DIGITS = {
    "0": "01110100011001110101110011000101110", "1": "00100011000010000100001000010001110",
    "2": "01110100010000100010001000100011111", "3": "11111000100010000010000011000101110",
    "4": "00010001100101010010111110001000010", "5": "11111100001111000001000011000101110",
    "6": "00110010001000011110100011000101110", "7": "11111000010001000100010000100001000",
    "8": "01110100011000101110100011000101110", "9": "01110100011000101111000010001001100",
}


def strip_colour(n):
    return PALETTE[(n - 1) % len(PALETTE)]


def png(width, height, pixel_rows):
    """PNG bytes of 8-bit RGB rows (each a bytes object of width * 3)."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + row for row in pixel_rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 6))
            + chunk(b"IEND", b""))


def strip_png(n, width=420, height=300):
    """Three panels in the strip's colour on white, the strip number in the first."""
    colour = bytes(strip_colour(n))
    white, ink = b"\xff\xff\xff", b"\x20\x20\x20"
    grid = [[white] * width for _ in range(height)]
    panel_w = (width - 40) // 3
    for p in range(3):
        x0 = 10 + p * (panel_w + 10)
        for y in range(10, height - 10):
            row = grid[y]
            for x in range(x0, x0 + panel_w):
                border = y in (10, height - 11) or x in (x0, x0 + panel_w - 1)
                row[x] = ink if border else colour
    # The number, drawn large (scale 6) in the first panel.
    scale, x = 6, 30
    for digit in str(n):
        bits = DIGITS[digit]
        for gy in range(7):
            for gx in range(5):
                if bits[gy * 5 + gx] == "1":
                    for yy in range(30 + gy * scale, 30 + (gy + 1) * scale):
                        for xx in range(x + gx * scale, x + (gx + 1) * scale):
                            grid[yy][xx] = white
        x += 6 * scale
    return png(width, height, [b"".join(row) for row in grid])


def page_html(n, count):
    """The page showing strip n of count, as /comic/<n>.html and (the newest) / show it."""
    def nav():
        links = []
        if n > 1:
            links.append('<a href="/comic/1.html" class="nav-first">&laquo; First</a>')
            links.append('<a href="/comic/%d.html" rel="prev">&lsaquo; Previous</a>'
                         % (n - 1))
        if n < count:
            links.append('<a href="/comic/%d.html" rel="next">Next &rsaquo;</a>'
                         % (n + 1))
            links.append('<a href="/comic/%d.html" class="nav-last">Last &raquo;</a>' % count)
        return '<div class="comic-nav">%s</div>\n' % " | ".join(links)

    head = ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
            "<title>Strip %d &#8211; Demo Comic</title>\n"
            '<meta property="og:title" content="Demo strip %d">\n</head>\n' % (n, n))
    body = ('<body>\n<div id="header"><a href="/"><img src="/logo.png" alt="Demo Comic"></a></div>\n'
            + nav()
            + '<h1 class="title">Demo strip %d</h1>\n<img src="/strips/%d.png" class="strip">\n'
            % (n, n)
            + nav()
            + '<div class="news"><p>New strips every week. See you next week!</p></div>\n'
            + "</body></html>\n")
    return (head + body).encode()


LOGO = png(120, 30, [b"\x20\x20\x20" * 120] * 30)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    strips = 12
    cache = {}

    def reply(self, body, kind):
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):  # noqa: N802 (the handler's API)
        path = self.path.split("?", 1)[0]
        try:
            if path in ("/", "/index.html"):
                return self.reply(page_html(self.strips, self.strips), "text/html")
            if path == "/logo.png":
                return self.reply(LOGO, "image/png")
            if path.startswith("/comic/") and path.endswith(".html"):
                n = int(path[len("/comic/"):-len(".html")])
                if 1 <= n <= self.strips:
                    return self.reply(page_html(n, self.strips), "text/html")
            if path.startswith("/strips/") and path.endswith(".png"):
                n = int(path[len("/strips/"):-len(".png")])
                if 1 <= n <= self.strips:
                    if n not in self.cache:
                        self.cache[n] = strip_png(n)
                    return self.reply(self.cache[n], "image/png")
        except ValueError:
            pass
        self.send_error(404)

    def log_message(self, fmt, *args):
        pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=8765)
    parser.add_argument("--strips", type=int, default=12)
    args = parser.parse_args()
    Handler.strips = args.strips
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    print("Demo comic on http://127.0.0.1:%d/ (%d strips)" % (args.port, args.strips), flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
