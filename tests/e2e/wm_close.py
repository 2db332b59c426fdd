"""Sends an X window the close request a window manager's close box sends
(WM_PROTOCOLS / WM_DELETE_WINDOW); Xvfb has no window manager to do it.
   wm_close.py WINDOW_ID"""
import ctypes
import sys

x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5),
                ("pad", ctypes.c_char * 64)]


display = ctypes.c_void_p(x.XOpenDisplay(None))
if not display:
    sys.exit("no X display")
window = int(sys.argv[1])
event = ClientMessage(type=33, window=window, format=32,
                      message_type=x.XInternAtom(display, b"WM_PROTOCOLS", 0))
event.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(display, ctypes.c_ulong(window), 0, 0, ctypes.byref(event))
x.XFlush(display)
