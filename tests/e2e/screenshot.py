#!/usr/bin/python3
"""Shows the Brand dialog on a virtual display and saves a picture of it (docs/screenshot.png).

The x86_64 program runs under Wine with the fake device mapped as a COM port; the test driver
chooses that port (so the status reads "端口N打开"), the whole screen is captured and cropped to
the window. Run as root from anywhere, after building build/win64:

    /usr/bin/python3 tests/e2e/screenshot.py [--port 3] [--output docs/screenshot.png]

BRAND_BUILD_WIN64 or BRAND_BUILD_DIR override the build folder, as for the tests.
"""

import argparse
import pathlib
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from dialog_rig import (  # noqa: E402
    ROOT,
    FakeDevice,
    driver_exe,
    program_exe,
    winenv,
    with_display,
)


def driver_values(output):
    values = {}
    for line in output.splitlines():
        key, _, value = line.partition("=")
        values[key] = value
    return values


def capture(port, output):
    session = winenv.WineSession()
    display = winenv.Xvfb()
    device = FakeDevice()
    program = None
    try:
        prefix = with_display(session.new_prefix("screenshot"), display.display)
        prefix.map_port(port, device.path)
        exe, driver = session.install(program_exe(), driver_exe())
        program = prefix.spawn(
            [exe], display=display.display, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL
        )
        items = [data for _, data in prefix.serialcomm()]
        index = items.index("COM%d" % port)
        shown = driver_values(
            prefix.run(
                [driver, "wait:15000", "choose:%d" % index, "state", "rect"],
                display=display.display,
            ).stdout
        )
        if "error" in shown:
            raise RuntimeError("driver: %r" % shown)
        print("status: %s" % shown["status"])
        time.sleep(0.5)  # let the window finish painting
        left, top = int(shown["left"]), int(shown["top"])
        width, height = int(shown["right"]) - left, int(shown["bottom"]) - top
        # The display belongs to the test user; capture as that user into a folder of its own.
        folder = winenv.user_dir("brand-shot-")
        shot = folder / "screen.png"
        subprocess.run(
            winenv.as_user(["import", "-display", display.display, "-window", "root", str(shot)]),
            check=True,
            cwd="/",
        )
        output.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(
            ["convert", str(shot), "-crop", "%dx%d+%d+%d" % (width, height, left, top), "+repage",
             "-strip", str(output)],
            check=True,
        )
        subprocess.run(["rm", "-rf", str(folder)], check=True)
        print("saved %s (%dx%d)" % (output, width, height))
        prefix.run([driver, "close:ok"], display=display.display)
    finally:
        if program is not None and program.poll() is None:
            program.kill()
            program.wait()
        session.close()
        device.stop()
        display.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, default=3, help="COM port number to show (1-9)")
    parser.add_argument("--output", type=pathlib.Path, default=ROOT / "docs" / "screenshot.png")
    args = parser.parse_args()
    capture(args.port, args.output.resolve())
    return 0


if __name__ == "__main__":
    sys.exit(main())
