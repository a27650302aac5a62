#!/usr/bin/env python3
"""Writes the example light profiles, each in IES LM-63 and EULUMDAT form.

Three luminaires, each an analytic intensity distribution scaled so that
the flux of the written table (zonal method: mean intensity of each cell
times its exact solid angle) is the stated luminous flux:

  narrow_downlight  1000 lm, rotationally symmetric cos^30 lobe (25 degree beam)
  wide_batwing      3000 lm, batwing peaking near 50 degrees, wider across
                    the luminaire (C0) than along it (C90); quadrant symmetric
  wall_washer       1500 lm, thrown to one side (towards C0), stored as a
                    full circle of C-planes
  classroom_panel   3600 lm, 26 W, 1200 x 300 mm recessed panel with a
                    glare-controlled optic (IES only): little light above
                    60 degrees, so that its luminance seen across a room
                    stays low
  corridor_downlight 1100 lm, 11 W, round recessed downlight of 200 mm,
                    a broad cosine lobe (IES only)

The IES files of the last two state their luminous opening, input power,
colour temperature and colour rendering, as a maker's files do.

Usage: make_profiles.py [output directory]   (default: this script's directory)
"""
import math
import os
import sys

DEG = math.pi / 180.0


def steps(first, last, step):
    n = int(round((last - first) / step))
    return [first + i * step for i in range(n + 1)]


def downlight(g, c):
    return math.cos(g * DEG) ** 30 if g < 90 else 0.0


def batwing(g, c):
    if g >= 90:
        return 0.0
    s2 = math.sin(g * DEG) ** 2
    spread = 3.0 * math.cos(c * DEG) ** 2 + 1.5 * math.sin(c * DEG) ** 2
    return math.cos(g * DEG) * (1.0 + spread * s2)


def wall_washer(g, c):
    if g >= 90:
        return 0.0
    return math.cos(g * DEG) * (1.0 + 0.9 * math.sin(g * DEG) * math.cos(c * DEG)) ** 3


def glare_controlled(g, c):
    """Cosine-law light that dies away between 50 and 70 degrees."""
    if g >= 70:
        return 0.0
    fade = 1.0 if g <= 50 else math.cos((g - 50) / 20.0 * 90.0 * DEG) ** 2
    return math.cos(g * DEG) ** 1.2 * fade


def broad_downlight(g, c):
    return math.cos(g * DEG) ** 1.6 if g < 90 else 0.0


def zonal_flux(gammas, planes, value):
    """Flux of the table value(g, c) over the full circle (planes ascending,
    the first at 0; the last wraps to the first + 360)."""
    flux = 0.0
    for i in range(len(gammas) - 1):
        g0, g1 = gammas[i], gammas[i + 1]
        band = math.cos(g0 * DEG) - math.cos(g1 * DEG)
        for j, c0 in enumerate(planes):
            c1 = planes[j + 1] if j + 1 < len(planes) else planes[0] + 360.0
            if c1 <= c0:
                continue
            mean = (value(g0, c0) + value(g1, c0) + value(g0, c1) + value(g1, c1)) / 4.0
            flux += mean * band * (c1 - c0) * DEG
    return flux


LUMINAIRES = [
    # name, description, lumens, distribution, gammas, all C-planes,
    # IES horizontal angles, EULUMDAT symmetry
    ("narrow_downlight", "Narrow downlight, 25 degree beam", 1000.0, downlight,
     steps(0, 180, 2.5), steps(0, 345, 15), [0.0], 1),
    ("wide_batwing", "Wide batwing panel", 3000.0, batwing,
     steps(0, 180, 5), steps(0, 345, 15), steps(0, 90, 15), 4),
    ("wall_washer", "Asymmetric wall-washer", 1500.0, wall_washer,
     steps(0, 180, 5), steps(0, 345, 15), steps(0, 360, 15), 0),
    ("classroom_panel", "Recessed panel 1200 x 300, glare-controlled optic", 3600.0,
     glare_controlled, steps(0, 180, 5), steps(0, 345, 15), [0.0], None),
    ("corridor_downlight", "Recessed downlight 200, opal", 1100.0, broad_downlight,
     steps(0, 180, 5), steps(0, 345, 15), [0.0], None),
]

# What a maker's file states beside the table: the luminous opening (IES
# width along C90-C270, length along C0-C180, height; negative for a round
# one; metres), the input power, the catalogue number, colour temperature
# and colour rendering. Files without an entry keep the first examples'
# header.
DATA = {
    "classroom_panel": {"opening": (0.3, 1.2, 0.0), "watts": 26, "catalogue": "ZL-CP1230-840",
                        "cct": "4000 K", "cri": "84"},
    "corridor_downlight": {"opening": (-0.2, -0.2, 0.0), "watts": 11,
                           "catalogue": "ZL-DL200-830", "cct": "3000 K", "cri": "82"},
}


def scaled(lumens, distribution, gammas):
    full_circle = steps(0, 359, 1)
    scale = lumens / zonal_flux(gammas, full_circle, distribution)
    return lambda g, c: scale * distribution(g, c)


def write_ies(path, name, description, lumens, cd, gammas, horizontal):
    data = DATA.get(name, {})
    opening = data.get("opening", (0.2, 0.2, 0.05))
    lines = [
        "IESNA:LM-63-2002",
        "[TEST] %s" % name,
        "[TESTLAB] zel_lumenfield examples (computed, not measured)",
        "[MANUFAC] zel_lumenfield",
        "[LUMINAIRE] %s" % description,
    ]
    if "catalogue" in data:
        lines.append("[LUMCAT] %s" % data["catalogue"])
    lines.append("[LAMP] LED module, %d lm" % lumens)
    if "cct" in data:
        lines += ["[_CCT] %s" % data["cct"], "[_CRI] %s" % data["cri"]]
    lines += [
        "[OTHER] Luminous flux %d lm, absolute photometry" % lumens,
        "TILT=NONE",
        "1 -1 1 %d %d 1 2 %g %g %g" % ((len(gammas), len(horizontal)) + opening),
        "1 1 %d" % data.get("watts", round(lumens / 100.0)),
        " ".join("%g" % g for g in gammas),
        " ".join("%g" % c for c in horizontal),
    ]
    for c in horizontal:
        row = ["%.2f" % cd(g, c) for g in gammas]
        for k in range(0, len(row), 10):
            lines.append(" ".join(row[k:k + 10]))
    with open(path, "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


def stored_planes(isym, planes):
    """The planes each symmetry indicator stores, in the file's order;
    3 stores C270 through C0 to C90 (planes 3*Mc/4 + 1 to 5*Mc/4 + 1,
    counted from 1, wrapping past Mc)."""
    mc = len(planes)
    return {0: planes, 1: planes[:1], 2: planes[:mc // 2 + 1],
            3: planes[3 * mc // 4:] + planes[:mc // 4 + 1], 4: planes[:mc // 4 + 1]}[isym]


def write_ldt(path, name, description, lumens, cd, gammas, planes, isym):
    lower = zonal_flux([g for g in gammas if g <= 90], steps(0, 359, 1), cd)
    lines = [
        "zel_lumenfield examples", "1", str(isym), str(len(planes)), "15", str(len(gammas)),
        "%g" % (gammas[1] - gammas[0]), name, description, name, name + ".ldt",
        "computed, not measured",
        "200", "200", "80", "180", "180", "0", "0", "0", "0",
        "%.1f" % (100.0 * lower / lumens), "100", "1.0", "0",
        "1", "1", "LED module", "%d" % lumens, "3000", "90", "%d" % round(lumens / 100.0),
    ]
    lines += ["0.5"] * 10
    lines += ["%g" % c for c in planes]
    lines += ["%g" % g for g in gammas]
    for c in stored_planes(isym, planes):
        lines += ["%.3f" % (cd(g, c) * 1000.0 / lumens) for g in gammas]
    with open(path, "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, description, lumens, dist, gammas, planes, horizontal, isym in LUMINAIRES:
        cd = scaled(lumens, dist, gammas)
        write_ies(os.path.join(out, name + ".ies"), name, description, lumens, cd, gammas,
                  horizontal)
        if isym is not None:
            write_ldt(os.path.join(out, name + ".ldt"), name, description, lumens, cd, gammas,
                      planes, isym)


if __name__ == "__main__":
    main()
