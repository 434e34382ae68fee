#!/usr/bin/python3
"""Runs the Brand dialog under Wine with the fake device on COM5, and prints what it receives.

With a display the user can reach (DISPLAY set), the dialog opens there for the user to work:
choose COM5, press either Set button, close the window. Every frame the device receives is
printed as it arrives. Without one, the dialog runs on a virtual display, the test driver chooses
COM5 and presses both Set buttons, and a picture of the window is saved.

Called by tools/run.sh after building build/win64 (and build/win32 for --shipped):

    /usr/bin/python3 tools/run_dialog.py [--shipped] [--port 5] [--screenshot build/run/brand.png]

--shipped runs the shipped 32-bit program (build/win32) instead of the x86_64 build, in a WoW64
prefix where qemu-user emulates the 32-bit Wine loader: making the prefix takes about a minute the
first time (then it comes from the prefix cache), and the program starts in about a second.
"""

import argparse
import os
import pathlib
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "harness"))

import winenv  # noqa: E402
from fake_device import FakeDevice  # noqa: E402

BUILD = ROOT / "build" / "win64"
SHIPPED = ROOT / "build" / "win32" / "brand.exe"
ID_SET_BRAND, ID_SET_CODE = 1003, 1006


def user_can_reach(display):
    """Lets the test user draw on the caller's display, if the caller's X server allows it."""
    subprocess.run(["xhost", "+SI:localuser:" + winenv.USER], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    probe = subprocess.run(winenv.as_user(["xdpyinfo", "-display", display]),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd="/")
    return probe.returncode == 0


def print_new_frames(device, shown):
    frames = device.frames()
    for line in frames[shown:]:
        print("device: " + line, flush=True)
    return len(frames)


def run_on_users_display(prefix, exe, device, display):
    print("== the dialog is on %s: choose COM%d, press Set, close the window" %
          (display, prefix.port), flush=True)
    program = prefix.spawn([exe], display=display)
    shown = 0
    while program.poll() is None:
        shown = print_new_frames(device, shown)
        time.sleep(0.2)
    time.sleep(0.5)
    print_new_frames(device, shown)


def driver_values(output):
    return dict(line.partition("=")[::2] for line in output.splitlines())


def run_on_virtual_display(prefix, exe, driver, device, screenshot):
    program = prefix.spawn([exe], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        items = [data for _, data in prefix.serialcomm()]
        index = items.index("COM%d" % prefix.port)
        state = driver_values(prefix.run(
            [driver, "wait:240000", "choose:%d" % index, "activate", "state", "rect"], timeout=300).stdout)
        print("== status after choosing COM%d: %s" % (prefix.port, state.get("status")))
        time.sleep(0.5)  # let the window finish painting
        save_window(prefix.display, state, screenshot)
        for button, name in ((ID_SET_BRAND, "brand"), (ID_SET_CODE, "code")):
            pressed = driver_values(prefix.run([driver, "click:%d" % button, "state"]).stdout)
            print("== pressed Set (%s): status %s" % (name, pressed.get("status")))
            device.wait_for(1, timeout=2.0, settle=0.3)
        prefix.run([driver, "close:ok"])
        program.wait(timeout=10)
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()
    print_new_frames(device, 0)


def save_window(display, state, screenshot):
    left, top = int(state["left"]), int(state["top"])
    width, height = int(state["right"]) - left, int(state["bottom"]) - top
    folder = winenv.user_dir("brand-run-")
    shot = folder / "screen.png"
    subprocess.run(winenv.as_user(["import", "-display", display, "-window", "root", str(shot)]),
                   check=True, cwd="/")
    screenshot.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["convert", str(shot), "-crop", "%dx%d+%d+%d" % (width, height, left, top),
                    "+repage", str(screenshot)], check=True)
    subprocess.run(["rm", "-rf", str(folder)], check=True)
    print("== a picture of the dialog: %s" % screenshot)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--shipped", action="store_true",
                        help="run the shipped 32-bit build; its start takes about a minute")
    parser.add_argument("--port", type=int, default=5)
    parser.add_argument("--screenshot", type=pathlib.Path,
                        default=ROOT / "build" / "run" / "brand.png")
    args = parser.parse_args()

    display = os.environ.get("DISPLAY")
    interactive = bool(display) and user_can_reach(display)
    xvfb = None if interactive else winenv.Xvfb()
    session = winenv.WineSession()
    try:
        with FakeDevice() as device:
            shown_on = display if interactive else xvfb.display
            if args.shipped:
                print("== the shipped 32-bit program in a WoW64 prefix (made in about a minute "
                      "when the prefix cache has none)", flush=True)
                prefix = session.new_wow64_prefix("run", shown_on)
            else:
                prefix = session.new_prefix("run", shown_on)
            prefix.port = args.port
            prefix.map_port(args.port, device.path)
            print("== fake device on %s, mapped as COM%d" % (device.path, args.port))
            exe, driver = session.install(SHIPPED if args.shipped else BUILD / "brand.exe",
                                          BUILD / "harness" / "brand_driver.exe")
            if interactive:
                run_on_users_display(prefix, exe, device, display)
            else:
                run_on_virtual_display(prefix, exe, driver, device, args.screenshot.resolve())
            print("== the device received %d bytes in all" % len(device.received()))
    finally:
        session.close()
        if xvfb:
            xvfb.stop()


if __name__ == "__main__":
    try:
        main()
    except winenv.HarnessError as error:
        sys.exit("run: %s" % error)
