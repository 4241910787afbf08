#!/usr/bin/env python3
"""Writes res/map.tpl: the country dialog's map page.

The page works offline: it carries the world's land outline as an SVG path
(equirectangular: x = longitude + 180, y = 90 - latitude, in degrees) and
marks the position with a pin. When "URL.MapMask" is set it lays map tiles
from that address mask ({z}, {x}, {y} in the usual tile scheme) over the
outline.

Placeholders filled by the dialog: {1} longitude, {2} latitude, {3} page
width, {4} page height, {5} the tile address mask, {6} the zoom level.

The outline comes from Natural Earth's 1:110m land polygons as the
"world-atlas" package ships them (land-110m.json, TopoJSON):
    npm pack world-atlas@2.0.2 && tar xzf world-atlas-2.0.2.tgz
    python3 tools/mapgen/make-map-template.py package/land-110m.json res/map.tpl
"""
import json
import os
import sys

SKELETON = os.path.join(os.path.dirname(os.path.abspath(__file__)), "map-skeleton.html")


def decode_arcs(topo):
    sx, sy = topo["transform"]["scale"]
    tx, ty = topo["transform"]["translate"]
    arcs = []
    for arc in topo["arcs"]:
        x = y = 0
        points = []
        for dx, dy in arc:
            x += dx
            y += dy
            points.append((x * sx + tx, y * sy + ty))
        arcs.append(points)
    return arcs


def ring_points(ring, arcs):
    points = []
    for index in ring:
        arc = arcs[index] if index >= 0 else list(reversed(arcs[~index]))
        # Consecutive arcs share their joining point.
        points.extend(arc if not points else arc[1:])
    return points


def unwrap(points):
    # A ring that crosses the antimeridian jumps from +180 to -180; moving
    # the following points by 360 degrees keeps it in one piece (the page
    # draws the outline three times side by side, so the part beyond 180
    # degrees shows where it belongs).
    out = []
    for lon, lat in points:
        if out:
            prev = out[-1][0]
            while lon - prev > 180:
                lon -= 360
            while lon - prev < -180:
                lon += 360
        out.append((lon, lat))
    return out


def path_of(topo):
    arcs = decode_arcs(topo)
    parts = []
    for geometry in topo["objects"]["land"]["geometries"]:
        polygons = geometry["arcs"] if geometry["type"] == "MultiPolygon" else [geometry["arcs"]]
        for polygon in polygons:
            for ring in polygon:
                pts = unwrap(ring_points(ring, arcs))
                if len(pts) < 3:
                    continue
                out = []
                last = None
                for lon, lat in pts:
                    p = (round(lon + 180, 1), round(90 - lat, 1))
                    if p == last:
                        continue
                    out.append(p)
                    last = p
                if len(out) < 3:
                    continue
                d = "M%g %g" % out[0] + "".join("L%g %g" % p for p in out[1:]) + "Z"
                parts.append(d)
    return "".join(parts)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make-map-template.py land-110m.json map.tpl")
    with open(sys.argv[1], encoding="utf-8") as f:
        topo = json.load(f)
    with open(SKELETON, encoding="utf-8") as f:
        page = f.read()
    page = page.replace("@LAND_PATH@", path_of(topo))
    with open(sys.argv[2], "w", encoding="utf-8", newline="\r\n") as f:
        f.write(page)


if __name__ == "__main__":
    main()
