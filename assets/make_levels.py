#!/usr/bin/env python3
"""Writes the sources of levels 2 and 3 (assets/level2.world, level3.world).

The .world files are the sources the build compiles with levelc; this script
is how they were laid out, kept so that a street can be moved in code rather
than by editing hundreds of lines. Standard library only; the same script
always writes the same files.

    python3 assets/make_levels.py

Level 2, the harbour, fits the classic limits. Level 3, the city, needs
--limits raised: its file is larger than the classic pool and its views list
far more than 100 faces.

Both levels stand inside a backdrop: a ring of large sprites (sky2.bit,
sky3.bit) far beyond the streets, each a picture of sky over a band of
distant land. Sprites are drawn in their own colours, unlit, so the sky is
the same colour whichever way the car looks, and the ring is the edge of the
world the player sees.
"""
import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))
GROUND = -6000   # the ground, below the driver's eye at y = 0


class World:
    def __init__(self, header):
        self.lines = [f"# {line}".rstrip() for line in header.strip().split("\n")]
        self.lines += ["world", ""]

    def add(self, text):
        self.lines.extend(text.strip("\n").split("\n"))
        self.lines.append("")

    def comment(self, text):
        self.lines.append(f"# {text}")

    def start(self, x, z):
        self.add(f"start Human1 {x} 0 {z} 0 0 0")

    def flat_quad(self, name, x, z, half_x, half_z, ramp, refl, y=GROUND, mass=1000000):
        """A horizontal rectangle facing up, centred on (x, z)."""
        self.add(f"""object {name}
  position {x} {y} {z}
  mass {mass}
  v {-half_x} 0 {-half_z}
  v {half_x} 0 {-half_z}
  v {half_x} 0 {half_z}
  v {-half_x} 0 {half_z}
  quad {ramp} {refl} 3 2 1 0
end""")

    def box(self, name, x, z, half_x, half_z, height, ramp, refl, mass=1000000, smooth=False,
            roof=False, y=GROUND):
        skip = "skip bottom" if roof else "skip top bottom"
        group = "  smooth\n" if smooth else ""
        self.add(f"""object {name}
  position {x} {y} {z}
  mass {mass}
{group}  box {-half_x} 0 {-half_z} {half_x} {height} {half_z} {ramp} {refl} {skip}
end""")

    def sprite(self, bitmap, x, y, z, scale, mass=50):
        self.add(f"""object {bitmap}
  position {x} {y} {z}
  mass {mass}
  v 0 0 0
  sprite {scale} 0
end""")

    def backdrop(self, bitmap, cx, cz, radius, count, scale):
        """The ring of sky sprites, centred at the ground so that the band of
        land in the middle of each picture lies on the horizon."""
        self.comment(f"The backdrop: {count} sky sprites on a ring of radius {radius}.")
        for k in range(count):
            a = 2 * math.pi * k / count
            x = cx + round(radius * math.sin(a))
            z = cz + round(radius * math.cos(a))
            self.sprite(bitmap, x, GROUND, z, scale, mass=1000000)

    def write(self, name):
        with open(os.path.join(HERE, name), "w") as f:
            f.write("\n".join(self.lines).rstrip() + "\n")


def road(w, x, z, length, along_z, width=20000):
    """A straight road in pieces of at most 200000 units (longer faces would
    overflow the near-plane clipping seen from afar)."""
    pieces = max(1, math.ceil(length / 200000))
    step = length / pieces
    for i in range(pieces):
        c = -length / 2 + step * (i + 0.5)
        if along_z:
            w.flat_quad("Road", x, round(z + c), width, round(step / 2), "grey", 200)
        else:
            w.flat_quad("Road", round(x + c), z, round(step / 2), width, "grey", 200)


def level2():
    w = World("""
Level 2: the harbour. A main street runs north from the start past a row of
houses to the quay; the quay road runs east along the water to a pier with a
lighthouse at its end, and back along the warehouses. Crates on the quay can
be pushed into the harbour.

Made by assets/make_levels.py; fits the classic limits (levelcheck checks
the pool and the faces in view).""")
    w.start(0, 0)
    w.comment("Streets: the main street, the quay road, the back lane.")
    road(w, 0, 150000, 400000, True)
    road(w, 150000, 370000, 340000, False)
    road(w, 300000, 150000, 400000, True)
    road(w, 150000, -70000, 340000, False)
    w.comment("The ground of the town, and the water north of the quay.")
    w.flat_quad("Ground", 150000, 150000, 130000, 200000, "green", 140, y=GROUND - 10)
    w.flat_quad("Water", 0, 600000, 200000, 200000, "blue", 110, y=GROUND - 10)
    w.flat_quad("Water", 400000, 600000, 200000, 200000, "blue", 110, y=GROUND - 10)
    w.comment("The pier and its lighthouse.")
    w.box("Pier", 300000, 500000, 20000, 110000, 2000, "orange", 150, roof=True)
    w.box("Lighthouse", 300000, 600000, 9000, 9000, 90000, "red", 230, smooth=True, roof=True)
    w.comment("Houses along the main street, west side.")
    colours = ["red", "orange", "yellow", "purple", "cyan"]
    for i, colour in enumerate(colours):
        z = -20000 + i * 72000
        w.box("House", -50000, z, 22000, 24000, 28000 + (i * 7919) % 20000, colour, 210,
              smooth=i % 2 == 1)
    w.comment("Warehouses between the main street and the back lane.")
    w.box("Warehouse", 150000, 90000, 80000, 50000, 50000, "grey", 190)
    w.box("Warehouse", 150000, 250000, 80000, 50000, 42000, "blue", 190)
    w.comment("Things to push on the quay: crates and a parked car.")
    for i in range(3):
        w.box("Crate", 60000 + i * 55000, 405000, 4000, 4000, 7000, "orange", 160, mass=40)
    w.add("""object Car
  position 250000 0 425000
  mass 100
  obj car.obj yellow 220 scale 1000
end""")
    w.comment("Trees along the back lane.")
    for i in range(4):
        w.sprite("tree.bit" if i % 2 == 0 else "pine.bit", 340000, 22000, 20000 + i * 80000, 3)
    w.backdrop("sky2.bit", 150000, 200000, 1000000, 12, 7)
    w.write("level2.world")


def level3():
    w = World("""
Level 3: the city. A grid of avenues between blocks of towers, with trees on
the pavements and crates, cars and barrels everywhere to push about.

Made by assets/make_levels.py; it needs --limits raised: the file is larger
than the classic pool and a view down an avenue lists hundreds of faces.""")
    w.start(0, 0)
    blocks = 8            # blocks a side
    pitch = 160000        # from one avenue to the next
    half = blocks * pitch // 2
    w.comment(f"Avenues: {blocks + 1} running north, {blocks + 1} running east.")
    for i in range(blocks + 1):
        road(w, -half + i * pitch + pitch // 2 - pitch // 2, half - pitch // 2,
             blocks * pitch + 40000, True)
        road(w, 0, -pitch // 2 + i * pitch, blocks * pitch + 40000, False)
    colours = ["red", "orange", "yellow", "purple", "cyan", "grey", "blue", "magenta"]
    seed = 12345

    def rand(n):
        nonlocal seed
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        return seed % n

    w.comment("Blocks: pavement and four towers each.")
    for bx in range(blocks):
        for bz in range(blocks):
            cx = -half + bx * pitch + pitch // 2
            cz = -pitch // 2 + bz * pitch + pitch // 2
            w.flat_quad("Pavement", cx, cz, 58000, 58000, "grey", 120, y=GROUND + 5)
            for qx in (-1, 1):
                for qz in (-1, 1):
                    height = 40000 + rand(140000)
                    w.box("Tower", cx + qx * 28000, cz + qz * 28000, 20000 + rand(6000),
                          20000 + rand(6000), height, colours[rand(len(colours))],
                          170 + rand(80), smooth=rand(3) == 0)
            for k in range(2):
                tree = "tree.bit" if rand(2) == 0 else "pine.bit"
                w.sprite(tree, cx - 50000 + k * 100000, 22000, cz - 50000, 3)
    w.comment("Things to push: crates, barrels and parked cars at the sides of the")
    w.comment("avenues, clear of the crossings and of the middle of the road.")
    for i in range(200):
        along = -pitch // 2 + rand(blocks) * pitch + 35000 + rand(pitch - 70000)
        side = (17000 + rand(4000)) * (1 if rand(2) == 0 else -1)
        if i % 2 == 0:   # on an avenue running north
            x, z = -half + rand(blocks + 1) * pitch + side, along
        else:            # on one running east
            x, z = along - half + pitch // 2, -pitch // 2 + rand(blocks + 1) * pitch + side
        if i % 4 == 2:   # cars only beside the avenues running north
            colour = colours[rand(len(colours))]
            w.add(f"""object Car
  position {x} 0 {z}
  mass 100
  obj car.obj {colour} 220 scale 1000
end""")
        else:
            w.box("Crate" if i % 2 == 0 else "Barrel", x, z, 4000, 4000, 7000,
                  "orange" if i % 2 == 0 else "red", 160, mass=40, roof=True)
    w.backdrop("sky3.bit", 0, half - pitch // 2, 2200000, 16, 8)
    w.write("level3.world")


if __name__ == "__main__":
    level2()
    level3()
