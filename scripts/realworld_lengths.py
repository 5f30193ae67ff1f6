#!/usr/bin/python3
"""Cut lengths of real-world drawings measured without the cut-file library, as the reference
the benchmark's real-world check compares against:

    scripts/realworld_lengths.py FILE... > lengths.tsv

Each line: the file's name, its cut length in mm. DXF through ezdxf (the entities a knife cuts,
blocks expanded, off and frozen layers and text left out), SVG through svgelements (visible
shapes, text left out, user units at 96 to the inch unless the document says otherwise), HP-GL
through the small reader below (PU, PD, PA, PR, IP, SC, IW, CI, AA, AR, EA, ER, EW and chord
angles; labels left out). Needs Debian's python3-ezdxf and python3-svgelements.
"""

import math
import re
import sys

UNIT_MM = {0: 1, 1: 25.4, 2: 304.8, 4: 1, 5: 10, 6: 1000, 8: 25.4e-6, 9: 0.0254, 10: 914.4,
           13: 0.001, 14: 100}


def polyline_length(points):
    return sum(math.dist(a, b) for a, b in zip(points, points[1:]))


def dxf_length(path):
    import ezdxf
    from ezdxf import path as ezpath
    from ezdxf import recover

    doc, _ = recover.readfile(path)
    hidden = {layer.dxf.name for layer in doc.layers if layer.is_off() or layer.is_frozen()}
    unit = UNIT_MM.get(doc.header.get("$INSUNITS", 0), 1)
    cut = {"LINE", "ARC", "CIRCLE", "ELLIPSE", "SPLINE", "LWPOLYLINE", "POLYLINE"}

    def measure(entities, depth=0):
        total = 0.0
        for entity in entities:
            kind = entity.dxftype()
            if entity.dxf.get("layer", "0") in hidden:
                continue
            if kind == "INSERT" and depth < 32:
                total += measure(entity.virtual_entities(), depth + 1)
            elif kind == "SPLINE":
                points = [(v.x, v.y) for v in entity.construction_tool().flattening(0.0005)]
                total += polyline_length(points)
            elif kind in cut:
                points = [(v.x, v.y) for v in ezpath.make_path(entity).flattening(0.0005)]
                total += polyline_length(points)
        return total

    return measure(doc.modelspace()) * unit


def svg_length(path):
    from svgelements import SVG, Path, Shape, Text

    svg = SVG.parse(path, reify=True, ppi=96)
    total = 0.0
    for element in svg.elements():
        if isinstance(element, Text) or not isinstance(element, Shape):
            continue
        if element.stroke is None and element.fill is None:
            continue
        total += Path(element).length(error=1e-7)
    return total * 25.4 / 96


class Plotter:
    """Just enough HP-GL to measure what a pen (or knife) draws."""

    def __init__(self):
        self.reset()

    def reset(self):
        self.x = self.y = 0.0
        self.down = False
        self.relative = False
        self.p1, self.p2 = (250.0, 596.0), (10250.0, 7796.0)
        self.scale = None
        self.window = None
        self.length = 0.0

    def user(self, x, y):
        if not self.scale:
            return x, y
        x1, x2, y1, y2 = self.scale[:4]
        kind = int(self.scale[4]) if len(self.scale) > 4 else 0
        if kind == 2:
            return self.p1[0] + (x - x1) * x2, self.p1[1] + (y - y1) * y2
        sx = (self.p2[0] - self.p1[0]) / (x2 - x1)
        sy = (self.p2[1] - self.p1[1]) / (y2 - y1)
        dx = dy = 0.0
        if kind == 1:
            s = min(abs(sx), abs(sy))
            left = self.scale[5] if len(self.scale) > 5 else 50
            bottom = self.scale[6] if len(self.scale) > 6 else 50
            dx = (self.p2[0] - self.p1[0] - s * abs(x2 - x1)) * left / 100
            dy = (self.p2[1] - self.p1[1] - s * abs(y2 - y1)) * bottom / 100
            sx, sy = math.copysign(s, sx), math.copysign(s, sy)
        return self.p1[0] + (x - x1) * sx + dx, self.p1[1] + (y - y1) * sy + dy

    def step(self, dx, dy):
        ox, oy = self.user(0, 0)
        x, y = self.user(dx, dy)
        return x - ox, y - oy

    def cut(self, a, b):
        if self.window:
            (wx1, wy1), (wx2, wy2) = self.window
            # Clip by sampling: fine enough for a reference.
            n = 2000
            inside = 0
            for i in range(n):
                t = (i + 0.5) / n
                px, py = a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t
                inside += wx1 <= px <= wx2 and wy1 <= py <= wy2
            self.length += math.dist(a, b) * inside / n
        else:
            self.length += math.dist(a, b)

    def move(self, x, y):
        if self.down:
            self.cut((self.x, self.y), (x, y))
        self.x, self.y = x, y

    def arc(self, cx, cy, radius, start, sweep, chord):
        pieces = math.ceil(abs(sweep) / chord) if chord and 0.5 <= abs(chord) <= 180 else 2000
        points = [(cx + radius * math.cos(math.radians(start + sweep * i / pieces)),
                   cy + radius * math.sin(math.radians(start + sweep * i / pieces)))
                  for i in range(pieces + 1)]
        return points

    def command(self, name, n):
        if name in ("IN", "DF"):
            length = self.length
            self.reset()
            self.length = length
        elif name == "IP" and len(n) >= 4:
            self.p1, self.p2 = (n[0], n[1]), (n[2], n[3])
        elif name == "SC":
            self.scale = n if len(n) >= 4 else None
        elif name == "IW":
            self.window = ((min(n[0], n[2]), min(n[1], n[3])), (max(n[0], n[2]), max(n[1], n[3]))) \
                if len(n) >= 4 else None
            if self.window and self.scale:
                a, b = self.user(n[0], n[1]), self.user(n[2], n[3])
                self.window = ((min(a[0], b[0]), min(a[1], b[1])), (max(a[0], b[0]), max(a[1], b[1])))
        elif name in ("PU", "PD", "PA", "PR"):
            if name == "PU":
                self.down = False
            elif name == "PD":
                self.down = True
            else:
                self.relative = name == "PR"
            for i in range(0, len(n) - 1, 2):
                if self.relative:
                    dx, dy = self.step(n[i], n[i + 1])
                    self.move(self.x + dx, self.y + dy)
                else:
                    self.move(*self.user(n[i], n[i + 1]))
        elif name == "CI" and n:
            radius = abs(self.step(n[0], 0)[0])
            points = self.arc(self.x, self.y, radius, 0, 360, n[1] if len(n) > 1 else 0)
            self.length += polyline_length(points)
        elif name in ("AA", "AR") and len(n) >= 3:
            cx, cy = self.user(n[0], n[1]) if name == "AA" else \
                (self.x + self.step(n[0], n[1])[0], self.y + self.step(n[0], n[1])[1])
            radius = math.dist((cx, cy), (self.x, self.y))
            start = math.degrees(math.atan2(self.y - cy, self.x - cx))
            points = self.arc(cx, cy, radius, start, max(-360, min(360, n[2])),
                              n[3] if len(n) > 3 else 0)
            for x, y in points[1:]:
                self.move(x, y)
        elif name in ("EA", "ER") and len(n) >= 2:
            x, y = self.user(n[0], n[1]) if name == "EA" else \
                (self.x + self.step(n[0], n[1])[0], self.y + self.step(n[0], n[1])[1])
            self.length += 2 * (abs(x - self.x) + abs(y - self.y))
        elif name == "EW" and len(n) >= 3:
            radius = abs(self.step(n[0], 0)[0])
            start = n[1] + (180 if n[0] < 0 else 0)
            sweep = max(-360, min(360, n[2]))
            points = self.arc(self.x, self.y, radius, start, sweep, n[3] if len(n) > 3 else 0)
            self.length += polyline_length(points)
            if abs(sweep) < 360:
                self.length += 2 * radius


def hpgl_length(path):
    data = open(path, "rb").read().decode("latin-1")
    plotter = Plotter()
    for match in re.finditer(r"([A-Za-z]{2})([^A-Za-z;]*)", data):
        name = match.group(1).upper()
        if name == "LB":
            continue
        numbers = [float(v) for v in re.findall(r"[+-]?(?:\d+\.?\d*|\.\d+)", match.group(2))]
        plotter.command(name, numbers)
    return plotter.length / 40


def main():
    for path in sys.argv[1:]:
        lower = path.lower()
        if lower.endswith(".dxf"):
            length = dxf_length(path)
        elif lower.endswith(".svg"):
            length = svg_length(path)
        else:
            length = hpgl_length(path)
        print(f"{path.rsplit('/', 1)[-1]}\t{length:.3f}")


if __name__ == "__main__":
    main()
