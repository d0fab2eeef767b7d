#!/usr/bin/python3
"""Acts as the parts of a window manager that the end-to-end tests need.

  x_probe.py ping WINDOW STOP_FILE   sends _NET_WM_PING every 250 ms until
                                     STOP_FILE exists or the window is gone;
                                     fails when an answer takes over 1 s
  x_probe.py cover WINDOW            covers the window with a red one, then
                                     uncovers it
  x_probe.py close WINDOW            the window manager's close request
                                     (WM_DELETE_WINDOW), as for Alt+F4
"""
import os
import sys
import time

from Xlib import X, Xatom, display, protocol

PERIOD = 0.25
LIMIT = 1.0


def client_message(d, window, protocol_name, *data):
    atoms = [d.intern_atom(protocol_name), *data]
    return protocol.event.ClientMessage(
        window=window, client_type=d.intern_atom("WM_PROTOCOLS"),
        data=(32, (atoms + [0] * 5)[:5]))


def protocols(d, window):
    prop = window.get_full_property(d.intern_atom("WM_PROTOCOLS"), Xatom.ATOM)
    return set(prop.value) if prop else set()


def ping(d, window, stop_file):
    root = d.screen().root
    if d.intern_atom("_NET_WM_PING") not in protocols(d, window):
        sys.exit("FAIL: the window does not take _NET_WM_PING")
    # A client answers a ping by sending it back to the root window.
    root.change_attributes(event_mask=X.SubstructureNotifyMask | X.SubstructureRedirectMask)
    d.sync()
    sent = {}  # timestamp -> time sent
    slowest, answered, stamp = 0.0, 0, 1
    began = next_ping = time.monotonic()
    gone = False
    while not gone:
        now = time.monotonic()
        stopping = os.path.exists(stop_file)
        if not stopping and now >= next_ping:
            window.send_event(client_message(d, window, "_NET_WM_PING", stamp, window.id),
                              event_mask=X.NoEventMask)
            d.flush()
            sent[stamp] = now
            stamp += 1
            next_ping = now + PERIOD
        late = [s for s, t in sent.items() if now - t > LIMIT]
        if late:
            sys.exit(f"FAIL: a ping {sent[late[0]] - began:.1f} s in unanswered after {LIMIT} s")
        if stopping and not sent:
            break
        while d.pending_events():
            event = d.next_event()
            # The program ending: hidden, then destroyed.
            if event.type in (X.UnmapNotify, X.DestroyNotify) and event.window == window:
                gone = True
            elif event.type == X.ClientMessage and event.window == root:
                fmt, data = event.data
                if data[1] in sent:
                    slowest = max(slowest, time.monotonic() - sent.pop(data[1]))
                    answered += 1
        time.sleep(0.01)
    if answered == 0:
        sys.exit("FAIL: no ping was sent")
    print(f"{answered} pings answered, the slowest in {slowest * 1000:.0f} ms")


def cover(d, window):
    geometry = window.get_geometry()
    origin = window.translate_coords(d.screen().root, 0, 0)
    screen = d.screen()
    red = screen.default_colormap.alloc_color(0xFFFF, 0, 0).pixel
    cover = screen.root.create_window(
        -origin.x - 20, -origin.y - 20, geometry.width + 40, geometry.height + 40, 0,
        screen.root_depth, background_pixel=red, override_redirect=True,
        event_mask=X.ExposureMask)
    cover.map()
    d.sync()
    while d.next_event().type != X.Expose:
        pass
    cover.destroy()
    d.sync()


def close(d, window):
    if d.intern_atom("WM_DELETE_WINDOW") not in protocols(d, window):
        sys.exit("FAIL: the window does not take WM_DELETE_WINDOW")
    window.send_event(client_message(d, window, "WM_DELETE_WINDOW", X.CurrentTime),
                      event_mask=X.NoEventMask)
    d.sync()


def main():
    command, window_id = sys.argv[1], int(sys.argv[2], 0)
    d = display.Display()
    window = d.create_resource_object("window", window_id)
    if command == "ping":
        ping(d, window, sys.argv[3])
    elif command == "cover":
        cover(d, window)
    elif command == "close":
        close(d, window)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
