#!/usr/bin/env python3
# Writes level1.world: 51 thin one-sided walls ahead of the start, each in a
# vertical plane that passes 600 units beside the start, turned so that its
# front faces the start and almost no other place. Seen from the start all
# 102 faces are listed at once: the first frame ends
# with "Transform: too many ptrs", while views on a grid miss the wedge.
import math

lines = ["# Made by make.py beside this file.", "world", "start Human1 0 0 0"]
for i in range(51):
    a = math.radians(-24 + 48 * i / 50)
    r = 20000 + 800 * i
    dx, dz = math.sin(a), math.cos(a)     # along the wall, away from the start
    nx, nz = -dz, dx                      # the wall's side
    cx, cz = r * dx + 600 * nx, r * dz + 600 * nz
    lines += [f"object Wall{i}", f"  position {round(cx)} 0 {round(cz)}", "  mass 1000"]
    for along, y in ((-2000, -6000), (2000, -6000), (2000, 6000), (-2000, 6000)):
        lines.append(f"  v {round(along * dx)} {y} {round(along * dz)}")
    lines += ["  quad grey 200 3 2 1 0", "end"]
open(__file__.replace("make.py", "level1.world"), "w").write("\n".join(lines) + "\n")
