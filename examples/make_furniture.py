#!/usr/bin/env python3
"""Writes the furniture of the L-shaped office example as a Wavefront OBJ
file with its material library: desks (top and four legs) and shelves
(two sides, a back and six boards), every box face cut into a lattice of
quads so that the mesh is about as dense as one exported from a modelling
program.

Usage: make_furniture.py [--cuts N] OUT.obj   (writes OUT.mtl beside it)
"""
import argparse
import os

MATERIALS = {  # diffuse colour, linear RGB
    "desk_top": (0.62, 0.55, 0.45),
    "steel": (0.30, 0.30, 0.32),
    "shelf": (0.75, 0.74, 0.70),
}


def desk(x, y, w=1.6, d=0.8, h=0.75):
    """A desk with its top's lower corner at (x, y): top and legs."""
    top = 0.03
    leg = 0.05
    boxes = [((x, y, h - top), (x + w, y + d, h), "desk_top")]
    for lx in (x + 0.05, x + w - 0.05 - leg):
        for ly in (y + 0.05, y + d - 0.05 - leg):
            boxes.append(((lx, ly, 0.0), (lx + leg, ly + leg, h - top), "steel"))
    return boxes


def shelves(x, y, w=1.0, d=0.4, h=2.0, boards=6):
    """An open shelf unit against a wall, its back along y = y + d."""
    t = 0.02
    boxes = [((x, y, 0.0), (x + t, y + d, h), "shelf"),
             ((x + w - t, y, 0.0), (x + w, y + d, h), "shelf"),
             ((x, y + d - t, 0.0), (x + w, y + d, h), "shelf")]
    for k in range(boards):
        z = k * (h - t) / (boards - 1)
        boxes.append(((x + t, y, z), (x + w - t, y + d - t, z + t), "shelf"))
    return boxes


def furniture():
    boxes = []
    for x, y in ((0.8, 0.8), (3.0, 0.8), (5.2, 0.8), (0.8, 2.6), (3.0, 2.6), (5.2, 2.6),
                 (0.8, 5.4)):
        boxes += desk(x, y)
    boxes += shelves(6.6, 3.9)
    boxes += shelves(2.8, 6.9)
    return boxes


def write(path, cuts):
    base = os.path.splitext(path)[0]
    library = os.path.basename(base) + ".mtl"
    with open(base + ".mtl", "w") as m:
        for name, (r, g, b) in MATERIALS.items():
            m.write(f"newmtl {name}\nKd {r} {g} {b}\n\n")
    vertices, faces = [], []
    by_material = {}
    for lo, hi, material in furniture():
        by_material.setdefault(material, []).append((lo, hi))
    out = [f"# furniture of the L-shaped office: made by make_furniture.py --cuts {cuts}\n",
           f"mtllib {library}\n"]
    for material, items in by_material.items():
        out.append(f"usemtl {material}\n")
        for lo, hi in items:
            # Each face: a fixed axis and value, and the two axes it spans,
            # ordered so that the quads face outwards.
            for axis in range(3):
                a, b = (axis + 1) % 3, (axis + 2) % 3
                for value, flip in ((lo[axis], True), (hi[axis], False)):
                    first = len(vertices) + 1
                    for j in range(cuts + 1):
                        for i in range(cuts + 1):
                            p = [0.0, 0.0, 0.0]
                            p[axis] = value
                            p[a] = lo[a] + (hi[a] - lo[a]) * i / cuts
                            p[b] = lo[b] + (hi[b] - lo[b]) * j / cuts
                            vertices.append(p)
                            out.append("v %.5f %.5f %.5f\n" % tuple(p))
                    for j in range(cuts):
                        for i in range(cuts):
                            q = [first + j * (cuts + 1) + i, first + j * (cuts + 1) + i + 1,
                                 first + (j + 1) * (cuts + 1) + i + 1,
                                 first + (j + 1) * (cuts + 1) + i]
                            if flip:
                                q.reverse()
                            faces.append(q)
                            out.append("f %d %d %d %d\n" % tuple(q))
    with open(path, "w") as f:
        f.writelines(out)
    return len(faces) * 2


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cuts", type=int, default=4, help="quads along each edge of a face")
    parser.add_argument("out", help="the OBJ file to write")
    args = parser.parse_args()
    triangles = write(args.out, args.cuts)
    print(f"{args.out}: {triangles} triangles")


if __name__ == "__main__":
    main()
