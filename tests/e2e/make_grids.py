#!/usr/bin/env python3
"""Writes the grids that the end-to-end driver selects in the window.

    make_grids.py OUTDIR SAMPLE.asc

OUTDIR receives:
  tiny.asc         4 x 3, CR LF line ends, one no-data cell
  big1000.asc      1000 x 1000, for the estimates and the region clamps
  witness.asc      the sample grid as an outside program writes it (gdal_translate
                   -of AAIGrid when it is installed, otherwise the sample itself)
  col1.asc         1 column, 5 rows
  row1.asc         6 columns, 1 row
  huge.asc         a 100 000 x 100 000 header over two short rows
  nocells.asc      a header whose cell size is 0
  notgrid.txt      text that is no grid; elsewhere/notgrid.txt the same in a folder of its own
  terrain_survey_...asc  tiny.asc under a 120- and a 235-character name
  cancel.asc       3000 x 6000, large enough to cancel a job in its vertex pass
  hillside.asc     the sample grid; tall.asc 40 x 400, tall and narrow
  lake.asc         194 x 62, 2 pixels a cell of the region picture, no-data in a lake and a corner
  blocked/blocked.asc  with a folder blocked/blocked__interpolated.obj where the
                   output would go
Deterministic: the same files every run.
"""
import math
import os
import shutil
import subprocess
import sys


def header(ncols, nrows, xll=512000.0, yll=6234000.0, cell=1.0, nodata=-9999):
    return ("ncols         %d\nnrows         %d\nxllcorner     %.1f\nyllcorner     %.1f\n"
            "cellsize      %s\nNODATA_value  %d\n" % (ncols, nrows, xll, yll, cell, nodata))


def write(path, text, newline="\n"):
    with open(path, "w", newline=newline) as f:
        f.write(text)


def terrain(col, row):
    return 150.0 + 12.0 * math.sin(col / 37.0) + 9.0 * math.cos(row / 23.0) + 0.01 * ((col * 7 + row * 13) % 50)


def main():
    out, sample = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)

    write(os.path.join(out, "tiny.asc"),
          header(4, 3, cell=2.5) +
          " 101.25 102.50 103.75 105.00\n"
          " 100.80 -9999 103.10 104.35\n"
          " 100.10 101.40 102.65 103.90\n", newline="\r\n")

    rows = (" ".join("%.2f" % terrain(c, r) for c in range(1000)) for r in range(1000))
    write(os.path.join(out, "big1000.asc"), header(1000, 1000) + "\n".join(rows) + "\n")

    witness = os.path.join(out, "witness.asc")
    made = False
    if shutil.which("gdal_translate"):
        made = subprocess.run(["gdal_translate", "-q", "-of", "AAIGrid", sample, witness]).returncode == 0
        for extra in ("witness.prj", "witness.asc.aux.xml"):
            path = os.path.join(out, extra)
            if os.path.exists(path):
                os.remove(path)
    if not made:
        print("make_grids: gdal_translate unavailable, witness.asc is the sample itself")
        shutil.copyfile(sample, witness)

    write(os.path.join(out, "col1.asc"), header(1, 5, cell=0.5) + "10.00\n11.50\n-9999\n12.25\n13.00\n")
    write(os.path.join(out, "row1.asc"), header(6, 1, cell=2.0) + "1.00 2.00 3.50 -9999 4.25 5.00\n")
    write(os.path.join(out, "huge.asc"), header(100000, 100000) + "1 2 3\n4 5 6\n")
    write(os.path.join(out, "nocells.asc"), header(2, 2, cell=0.0) + "1 2\n3 4\n")
    for length in (116, 231):
        shutil.copyfile(os.path.join(out, "tiny.asc"), os.path.join(out, ("terrain_survey_" * 16)[:length] + ".asc"))
    write(os.path.join(out, "notgrid.txt"), "This is a shopping list, not a terrain grid.\nmilk\nbread\n")
    os.makedirs(os.path.join(out, "elsewhere"), exist_ok=True)
    shutil.copyfile(os.path.join(out, "notgrid.txt"), os.path.join(out, "elsewhere", "notgrid.txt"))

    # 6000 rows drawn from a few row texts keep the writing quick: a job of
    # them lasts past the screenshots taken while it runs.
    templates = [" ".join("%.1f" % terrain(c, r * 31) for c in range(3000)) for r in range(7)]
    with open(os.path.join(out, "cancel.asc"), "w", newline="\n") as f:
        f.write(header(3000, 6000))
        for r in range(6000):
            f.write(templates[r % 7])
            f.write("\n")

    shutil.copyfile(sample, os.path.join(out, "hillside.asc"))
    lake = (" ".join("-9999" if (c - 120) ** 2 + (r - 30) ** 2 < 300 or c + r < 12 else "%.2f" % terrain(c * 3, r * 3)
                     for c in range(194)) for r in range(62))
    write(os.path.join(out, "lake.asc"), header(194, 62, cell=10.0) + "\n".join(lake) + "\n")
    tall = (" ".join("%.2f" % (terrain(c * 5, r) + 0.2 * r) for c in range(40)) for r in range(400))
    write(os.path.join(out, "tall.asc"), header(40, 400) + "\n".join(tall) + "\n")

    blocked = os.path.join(out, "blocked")
    os.makedirs(os.path.join(blocked, "blocked__interpolated.obj"), exist_ok=True)
    shutil.copyfile(os.path.join(out, "tiny.asc"), os.path.join(blocked, "blocked.asc"))


if __name__ == "__main__":
    main()
