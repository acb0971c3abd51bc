#!/usr/bin/env python3
"""Small readers for ./scripts/desktops: busctl's JSON, sway's tree, and icon contrast on a screenshot (PNG)."""
import json
import struct
import sys
import zlib

IDEOGRAPHIC_SPACE = "\u3000"


def windows(tree):
    """Every view sway shows, tiled or floating: "<app_id or class>\t<title>"."""
    found = []

    def walk(node):
        if node.get("pid") and node.get("type") in ("con", "floating_con"):
            app = node.get("app_id") or (node.get("window_properties") or {}).get("class") or ""
            found.append(f"{app}\t{node.get('name') or ''}")
        for child in node.get("nodes", []) + node.get("floating_nodes", []):
            walk(child)

    walk(tree)
    return found


def read_png(path):
    """8-bit RGB or RGBA, not interlaced (what grim and Qt write): (width, height, rows of (r, g, b, a))."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunk = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", chunk)
        elif kind == b"IDAT":
            idat += chunk
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and colour in (2, 6) and not interlace, f"unsupported PNG {header}"
    channels = 4 if colour == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                line[i] = (line[i] + pred) & 0xFF
        rows.append([tuple(line[x * channels:x * channels + 3]) + ((line[x * channels + 3],) if channels == 4 else (255,))
                     for x in range(width)])
        previous = line
    return width, height, rows


def luminance(rgb):
    def channel(v):
        v /= 255
        return v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4
    r, g, b = rgb
    return 0.2126 * channel(r) + 0.7152 * channel(g) + 0.0722 * channel(b)


def contrast(path, bar, margin_x=0, margin_y=0):
    """WCAG contrast of the picture's pixels (without a margin) against the bar: the strongest, and how many
    reach 3:1."""
    bar_rgb = tuple(int(bar.lstrip("#")[i:i + 2], 16) for i in (0, 2, 4))
    bar_l = luminance(bar_rgb)
    width, height, rows = read_png(path)
    strongest, standing_out = 1.0, 0
    for row in rows[margin_y:height - margin_y]:
        for r, g, b, _ in row[margin_x:width - margin_x]:
            l = luminance((r, g, b))
            ratio = (max(l, bar_l) + 0.05) / (min(l, bar_l) + 0.05)
            strongest = max(strongest, ratio)
            standing_out += ratio >= 3.0
    print(f"strongest {strongest:.2f}:1, {standing_out} px at 3:1 or more")
    return 0 if strongest >= 3.0 and standing_out >= 30 else 1


def same_rows(layout_path, rows):
    """The exported menu's visible items against the model's row titles (separators left out), in order."""
    layout = json.load(open(layout_path))["data"][1]
    labels = []
    for child in layout[2]:
        _, props, _ = child["data"]
        props = {k: v["data"] for k, v in props.items()}
        if props.get("type") == "separator" or props.get("visible") is False:
            continue
        labels.append(props.get("label", "").lstrip(IDEOGRAPHIC_SPACE))
    model = rows.split("|") if rows else []
    if labels == model:
        print(f"{len(labels)} rows")
        return 0
    for i, (a, b) in enumerate(zip(labels, model)):
        if a != b:
            print(f"row {i + 1}: exported \"{a}\", model \"{b}\"")
            return 1
    print(f"exported {len(labels)} rows, model {len(model)}")
    return 1


def icon_centre(path, bar):
    """The centre of what differs from the bar colour in a picture of the bar: where the icon is."""
    bar_rgb = tuple(int(bar.lstrip("#")[i:i + 2], 16) for i in (0, 2, 4))
    width, height, rows = read_png(path)
    xs, ys = [], []
    for y, row in enumerate(rows):
        for x, (r, g, b, _) in enumerate(row):
            if max(abs(r - bar_rgb[0]), abs(g - bar_rgb[1]), abs(b - bar_rgb[2])) > 24:
                xs.append(x)
                ys.append(y)
    if not xs:
        return 1
    print((min(xs) + max(xs)) // 2, (min(ys) + max(ys)) // 2)
    return 0


def menu_id(layout_path, label):
    """The item id of the exported menu's item with this label."""
    for child in json.load(open(layout_path))["data"][1][2]:
        item_id, props, _ = child["data"]
        if props.get("label", {}).get("data") == label:
            print(item_id)
            return 0
    return 1


def main():
    what = sys.argv[1]
    if what == "windows":
        print("\n".join(windows(json.load(sys.stdin))))
        return 0
    if what == "item":
        items = json.load(sys.stdin)["data"]
        if not items:
            return 1
        service, _, path = items[0].partition("/")
        print(service, "/" + path if path else "/StatusNotifierItem")
        return 0
    if what == "value":
        print(json.load(sys.stdin)["data"])
        return 0
    if what == "tooltip":
        _, _, title, text = json.load(sys.stdin)["data"]
        print(f"title \"{title}\", text \"{text}\"")
        return 0
    if what == "contrast":
        return contrast(sys.argv[2], sys.argv[3], *(int(v) for v in sys.argv[4:6]))
    if what == "icon-centre":
        return icon_centre(sys.argv[2], sys.argv[3])
    if what == "menu-id":
        return menu_id(sys.argv[2], sys.argv[3])
    if what == "same-rows":
        return same_rows(sys.argv[2], sys.argv[3])
    print(f"unknown check {what}", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
