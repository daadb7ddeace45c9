#!/usr/bin/env bash
# Closing the window the way a window manager asks (a WM_DELETE_WINDOW
# client message) ends the game by its normal path: status 0, window gone,
# nothing printed. Xvfb runs no window manager, so the script sends the
# message itself through libX11.
#
#   bash tests/e2e/window_close.sh BUILD_DIR      (from the repository root)
name=window_close
source "$(dirname "$0")/window_common.bash"
need python3

start_display
start_game
wait_window
sleep 0.5   # a few frames, so the game is in its loop

python3 - "$wid" <<'EOF' || fail "could not send WM_DELETE_WINDOW"
import ctypes, sys

x11 = ctypes.cdll.LoadLibrary('libX11.so.6')
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

class ClientMessage(ctypes.Structure):
    _fields_ = [('type', ctypes.c_int), ('serial', ctypes.c_ulong), ('send_event', ctypes.c_int),
                ('display', ctypes.c_void_p), ('window', ctypes.c_ulong),
                ('message_type', ctypes.c_ulong), ('format', ctypes.c_int),
                ('data', ctypes.c_long * 5)]

class Event(ctypes.Union):
    _fields_ = [('xclient', ClientMessage), ('pad', ctypes.c_long * 24)]

display = x11.XOpenDisplay(None)
if not display:
    sys.exit('cannot open the display')
window = int(sys.argv[1])
event = Event()
event.xclient.type = 33   # ClientMessage
event.xclient.window = window
event.xclient.message_type = x11.XInternAtom(display, b'WM_PROTOCOLS', 0)
event.xclient.format = 32
event.xclient.data[0] = x11.XInternAtom(display, b'WM_DELETE_WINDOW', 0)
event.xclient.data[1] = 0   # CurrentTime
if not x11.XSendEvent(display, window, 0, 0, ctypes.byref(event)):
    sys.exit('XSendEvent failed')
x11.XFlush(display)
x11.XCloseDisplay(display)
EOF

wait_exit 10
[ "$status" -eq 0 ] || fail "exit status $status after the close request; output: $(cat "$tmp/game.out")"
expect_clean_end
echo "$name: the close request ended the game with status 0"
