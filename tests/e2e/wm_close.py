"""wm_close.py WINDOW_ID: sends an X window the close request a window manager's close
box sends (WM_PROTOCOLS / WM_DELETE_WINDOW); Xvfb has no window manager to do it."""
import ctypes
import sys

x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
c_long, c_ulong, c_int, c_ptr = ctypes.c_long, ctypes.c_ulong, ctypes.c_int, ctypes.c_void_p


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", c_int), ("serial", c_ulong), ("send_event", c_int), ("display", c_ptr),
                ("window", c_ulong), ("message_type", c_ulong), ("format", c_int),
                ("data", c_long * 5), ("pad", ctypes.c_char * 64)]


display = ctypes.c_void_p(x.XOpenDisplay(None)) or sys.exit("no X display")
window = int(sys.argv[1])
event = ClientMessage(type=33, window=window, format=32,
                      message_type=x.XInternAtom(display, b"WM_PROTOCOLS", 0))
event.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(display, c_ulong(window), 0, 0, ctypes.byref(event))
x.XFlush(display)
