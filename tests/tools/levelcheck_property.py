#!/usr/bin/env python3
"""levelcheck's verdicts against the game, over generated levels.

Each level has random one-sided walls (some thin, turned to face the start
and almost nothing else), sprites and a start off any grid. For a level that
levelcheck passes, the soak player drives random games from the start and
must meet no fatal error; for a level it fails with a fatal limit, the view
it reports must end the recorder with the same fatal error: the level is
compiled again with the start at the view's position, and the car turns on
the spot to the view's heading (the steering rate held between 9 and 10
turns it one step every second frame, through every heading). A level whose
verdict does not hold is kept in WORK/kept/ with its source.

    levelcheck_property.py BUILD_DIR WORK_DIR [LEVELS]
"""
import math
import os
import random
import re
import shutil
import subprocess
import sys

build, work = sys.argv[1], os.path.abspath(sys.argv[2])
count = int(sys.argv[3]) if len(sys.argv) > 3 else 20
tools = os.path.join(os.path.abspath(build), "tools")
levelc, levelcheck = os.path.join(tools, "levelc"), os.path.join(tools, "levelcheck")
record, soak = os.path.join(tools, "polydrive-record"), os.path.join(tools, "polydrive-soak")
FATAL = ("too many ptrs", "too many vertices")


def quad(lines, name, cx, cz, dx, dz, half, y0, y1, mass):
    lines += [f"object {name}", f"  position {round(cx)} 0 {round(cz)}", f"  mass {mass}"]
    for along, y in ((-half, y0), (half, y0), (half, y1), (-half, y1)):
        lines.append(f"  v {round(along * dx)} {y} {round(along * dz)}")
    lines += ["  quad grey 200 3 2 1 0", "end"]


def level_source(rng, start):
    sx, sz = start
    lines = ["world", f"start Human1 {sx} 0 {sz}"]
    # Thin walls, in one object, each in a plane that passes beside a focus
    # (the start, or another place) with its front toward it.
    fx, fz = (sx, sz) if rng.random() < 0.5 else (rng.randrange(-90000, 90000) | 1,
                                                  rng.randrange(-90000, 90000) | 1)
    facing = rng.uniform(0, 2 * math.pi) if (fx, fz) != (sx, sz) else 0
    thin = rng.randrange(0, 30) if rng.random() < 0.4 else rng.randrange(45, 80)
    if thin:
        lines += ["object Thin", f"  position {fx} 0 {fz}", "  mass 100000"]
        quads = []
        for i in range(thin):
            a = facing + rng.uniform(-0.45, 0.45)
            r = rng.uniform(15000, 90000)
            dx, dz = math.sin(a), math.cos(a)
            side = rng.uniform(600, 3000)
            cx, cz = r * dx - side * dz, r * dz + side * dx
            half, top = rng.uniform(500, 4000), rng.choice((6000, 20000))
            base = 4 * i
            for along, y in ((-half, -6000), (half, -6000), (half, top), (-half, top)):
                lines.append(f"  v {round(cx + along * dx)} {y} {round(cz + along * dz)}")
            quads.append(f"  quad grey 200 {base + 3} {base + 2} {base + 1} {base}")
        lines += quads + ["end"]
    for i in range(rng.randrange(0, 20)):   # walls anywhere, any way round
        a = rng.uniform(0, 2 * math.pi)
        quad(lines, f"Wall{i}", rng.uniform(-120000, 120000), rng.uniform(-120000, 120000),
             math.sin(a), math.cos(a), rng.uniform(1000, 20000), -6000,
             rng.choice((2000, 12000, 30000)), 100000)
    for i in range(rng.randrange(0, 15)):
        name = rng.choice(("tree.bit", "pine.bit", "sign.bit"))
        lines += [f"object {name}",
                  f"  position {rng.randrange(-150000, 150000)} {rng.randrange(-3000, 20000)} "
                  f"{rng.randrange(-150000, 150000)}",
                  "  mass 50", "  v 0 0 0", f"  sprite {rng.randrange(0, 4)} 0", "end"]
    return "\n".join(lines) + "\n"


def run(args, timeout=600):
    p = subprocess.run(args, capture_output=True, text=True, timeout=timeout)
    return p.returncode, p.stdout + p.stderr


def compile_level(source, lib):
    os.makedirs(lib, exist_ok=True)
    for f in os.listdir("lib"):
        if f.endswith(".bit") or f == "car1.3do":
            shutil.copy(os.path.join("lib", f), lib)
    path = os.path.join(lib, "..", "level1.world")
    with open(path, "w") as f:
        f.write(source)
    code, out = run([levelc, path, "-o", os.path.join(lib, "level1.3dw")])
    return code == 0, out


def reproduce(source, case, x, z, heading, fatal):
    """Runs the recorder with the car at (x, z), turning to heading."""
    moved = re.sub(r"^start Human1 .*$", f"start Human1 {x} 0 {z}", source, count=1, flags=re.M)
    lib = os.path.join(case, "view", "lib")
    ok, out = compile_level(moved, lib)
    if not ok:
        return False, "the moved level does not compile: " + out
    keys = os.path.join(case, "view", "keys")
    frames = 1
    with open(keys, "w") as f:
        if heading % 1440:
            steps = heading % 1440
            f.write("10 right\n" + "1 none\n1 right\n" * (steps - 1))
            frames = 10 + 2 * (steps - 1)
    code, out = run([record, "--data", lib, "--keys", keys, "--frames", str(frames),
                     "--every", "100000000", "--out", os.path.join(case, "view", "frames")])
    return code == 1 and fatal in out, f"recorder exit {code}: {out.strip()[-300:]}"


def main():
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    rng = random.Random(25)
    passed = failed = undecided = bad = 0
    for n in range(count):
        start = (rng.randrange(-40000, 40000) | 1, rng.randrange(-40000, 40000) | 1)
        source = level_source(rng, start)
        case = os.path.join(work, f"level{n:02d}")
        lib = os.path.join(case, "lib")
        ok, out = compile_level(source, lib)
        if not ok:   # too big for the classic pool: not a question for this test
            continue
        code, out = run([levelcheck, lib, "--orders", "3", "--budget", "15", "--allow-wrap",
                         "--quiet"])
        problem = None
        if code == 0 and "passes every limit" in out:
            passed += 1
            for game in range(3):
                c, o = run([soak, "--data", lib, "--game", str(n * 10 + game), "--frames", "700"])
                if c != 0:
                    problem = f"passes levelcheck, but soak game {n * 10 + game}: {o.strip()}"
                    break
        elif code == 0:
            undecided += 1
        else:
            failed += 1
            m = re.search(r"FAIL: (?:frame \d+ from the player start: )?view x=(-?\d+) z=(-?\d+) "
                          r"heading=(-?\d+): (.*)", out)
            fatal = next((f for f in FATAL if m and f in m.group(4)), None)
            if m is None or fatal is None:
                m2 = re.search(r"FAIL: frame \d+ from the player start \(x=(-?\d+) z=(-?\d+) "
                               r"heading=(-?\d+)\): (.*)", out)
                m = m2 or m
                fatal = next((f for f in FATAL if m and f in m.group(4)), None)
            if m is not None and fatal is not None:
                good, why = reproduce(source, case, int(m.group(1)), int(m.group(2)),
                                      int(m.group(3)), fatal)
                if not good:
                    problem = f"the reported view does not reproduce: {m.group(0)}; {why}"
        verdict = out.strip().splitlines()[-1]
        view = re.search(r"FAIL: .*", out) if code else None
        print(f"level{n:02d}: " + (problem or verdict + (f"\n  {view.group(0)}" if view else "")))
        if problem:
            bad += 1
            kept = os.path.join(work, "kept", f"level{n:02d}")
            shutil.copytree(case, kept, dirs_exist_ok=True)
    print(f"levelcheck property: {passed} passed, {failed} failed, {undecided} not proved, "
          f"{bad} verdicts that did not hold")
    print(f"{passed + failed + undecided - bad} passed, {bad} failed")
    return 1 if bad else 0


sys.exit(main())
