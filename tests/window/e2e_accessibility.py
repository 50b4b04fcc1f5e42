#!/usr/bin/python3
"""The window as a screen reader meets it: over AT-SPI, on a virtual X display with a session bus
and an accessibility bus of the test's own, every control is found by its name and role, and
Test is pressed through AT-SPI as a screen reader user would. Each detection must bring the
result, an alert, into view carrying the message; a test that empties the label must bring no
event carrying it.
    e2e_accessibility.py PROGRAM
"""
import os
import subprocess
import sys
import tempfile
import time

if "TIRVEL_TEST_SESSION" not in os.environ:
    session = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support",
                           "test_session.sh")
    os.execv(session, [session, "--display", "--bus", sys.argv[0], *sys.argv[1:]])

from gi.repository import Gio, GLib  # noqa: E402

MESSAGE = "Rörelse har detekterats !"


def pump(done, seconds=10.0):
    """Runs the event loop until done() or the time is up; returns done()."""
    context = GLib.MainContext.default()
    deadline = time.monotonic() + seconds
    while not done() and time.monotonic() < deadline:
        while context.iteration(False):
            pass
        time.sleep(0.02)
    return done()


def fail(why):
    print("FAIL: " + why, file=sys.stderr)
    sys.exit(1)


def bus_has(name):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    reply = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                          "NameHasOwner", GLib.Variant("(s)", (name,)), None, 0, -1, None)
    return reply.unpack()[0]


def frame(directory, colour, name):
    subprocess.run(["convert", "-size", "160x120", "xc:" + colour,
                    "BMP3:" + directory + "/next.bmp"], check=True)
    os.replace(directory + "/next.bmp", directory + "/" + name)


def run(program, frames, started):
    started.append(subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"]))
    # Until the launcher owns its name, a client would have the session bus start another one.
    if not pump(lambda: bus_has("org.a11y.Bus")):
        fail("the accessibility bus did not start")
    import pyatspi

    events = []

    def heard(event):
        if event.source.getRole() == pyatspi.ROLE_ALERT:
            events.append((event.type, event.detail1, event.source.name))

    # Listening before the program starts, so that it knows from the first what to send.
    pyatspi.Registry.registerEventListener(
        heard, "object:state-changed:showing", "object:property-change:accessible-name")

    # A black test frame against anything brighter: every test detects.
    frame(frames, "white", "5.bmp")
    frame(frames, "black", "6.bmp")
    started.append(subprocess.Popen(
        [program, "--directory", frames],
        env=dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")))

    desktop = pyatspi.Registry.getDesktop(0)
    apps = []
    pump(lambda: apps.extend(a for a in desktop if a and a.name == "Tirvel") or apps)
    if not apps:
        fail("no application named Tirvel on the accessibility bus")
    windows = []
    pump(lambda: windows.extend(w for w in apps[0] if w and w.name == "Tirvel") or windows)
    if not windows:
        fail("no window named Tirvel")

    def find(name, role):
        return pyatspi.findDescendant(windows[0],
                                      lambda a: a.name == name and a.getRole() == role)

    for name, role in [("Test", pyatspi.ROLE_PUSH_BUTTON), ("Tidsbild", pyatspi.ROLE_IMAGE),
                       ("Testbild", pyatspi.ROLE_IMAGE), ("160x120", pyatspi.ROLE_PUSH_BUTTON),
                       ("5 bild/sek", pyatspi.ROLE_PUSH_BUTTON),
                       ("Känslighet", pyatspi.ROLE_SLIDER), ("Känslighet:", pyatspi.ROLE_LABEL),
                       ("", pyatspi.ROLE_ALERT), ("Exit", pyatspi.ROLE_PUSH_BUTTON),
                       ("Kamerabild", pyatspi.ROLE_IMAGE),
                       ("Videokamera fönster", pyatspi.ROLE_LABEL)]:
        control = find(name, role)
        if control is None:
            fail(f"no {role} named {name!r}")
        if not control.description:
            fail(f"{name!r} has no description")
        print(f"found {control.getRoleName()} {name!r}: {control.description}")
    alert = find("", pyatspi.ROLE_ALERT)
    if alert.getState().contains(pyatspi.STATE_SHOWING):
        fail("the result shows before any test")

    def announcements():
        return [e for e in events if e == ("object:state-changed:showing", 1, MESSAGE)]

    def press(name):
        find(name, pyatspi.ROLE_PUSH_BUTTON).queryAction().doAction(0)

    for detection in (1, 2):
        press("Test")
        if not pump(lambda: len(announcements()) == detection):
            fail(f"detection {detection} was not announced; heard {events}")
    # Two white frames add no change, and the next second's tick empties the count.
    frame(frames, "white", "6.bmp")
    pump(lambda: False, 1.5)
    heard_before = len(events)
    press("Test")
    if not pump(lambda: ("object:state-changed:showing", 0, "") in events[heard_before:]):
        fail(f"emptying the result was not seen; heard {events[heard_before:]}")
    pump(lambda: False, 0.5)
    for event in events:
        print("heard", event)
    if len(announcements()) != 2:
        fail(f"{len(announcements())} announcements for 2 detections")
    if any(MESSAGE in event for event in events[heard_before:]):
        fail("the message was heard while the result was emptied")

    press("Exit")
    try:
        status = started[-1].wait(10)
    except subprocess.TimeoutExpired:
        fail("the program is still running after Exit")
    if status != 0:
        fail(f"the program ended with status {status}")


def main():
    started = []
    with tempfile.TemporaryDirectory() as frames:
        try:
            run(sys.argv[1], frames, started)
        finally:
            for process in reversed(started):
                if process.poll() is None:
                    process.terminate()
                    process.wait(10)
    print("1 passed, 0 failed")


main()
