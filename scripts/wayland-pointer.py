#!/usr/bin/env python3
"""Clicks like a mouse on a wlroots compositor (sway): a virtual pointer (zwlr_virtual_pointer_v1) moves to a
point of the output and presses and releases a button, then stays for a while, since the seat keeps its pointer
only while a pointer device exists (a menu that opened would close with it). Only libwayland-client, through
ctypes: nothing to build.
    wayland-pointer.py X Y left|middle|right [seconds to stay]      output size from WAYLAND_POINTER_OUTPUT=WxH
"""
import ctypes
import os
import sys
import time

wl = ctypes.CDLL("libwayland-client.so.0")


class Interface(ctypes.Structure):
    pass


class Message(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("signature", ctypes.c_char_p),
                ("types", ctypes.POINTER(ctypes.POINTER(Interface)))]


Interface._fields_ = [("name", ctypes.c_char_p), ("version", ctypes.c_int),
                      ("method_count", ctypes.c_int), ("methods", ctypes.POINTER(Message)),
                      ("event_count", ctypes.c_int), ("events", ctypes.POINTER(Message))]

NULL_TYPES = (ctypes.POINTER(Interface) * 8)()
registry_interface = Interface.in_dll(wl, "wl_registry_interface")
seat_interface = Interface.in_dll(wl, "wl_seat_interface")


def messages(*pairs, types=None):
    array = (Message * len(pairs))()
    for i, (name, signature) in enumerate(pairs):
        array[i] = Message(name.encode(), signature.encode(), (types or {}).get(name, NULL_TYPES))
    return array


pointer_interface = Interface()
pointer_methods = messages(("motion", "uff"), ("motion_absolute", "uuuuu"), ("button", "uuu"),
                           ("axis", "uuf"), ("frame", ""), ("axis_source", "u"), ("axis_stop", "uu"),
                           ("axis_discrete", "uufi"), ("destroy", ""))
pointer_interface.name, pointer_interface.version = b"zwlr_virtual_pointer_v1", 1
pointer_interface.method_count, pointer_interface.methods = len(pointer_methods), pointer_methods

create_types = (ctypes.POINTER(Interface) * 2)(ctypes.pointer(seat_interface), ctypes.pointer(pointer_interface))
manager_interface = Interface()
manager_methods = messages(("create_virtual_pointer", "?on"), ("destroy", ""),
                           types={"create_virtual_pointer": create_types})
manager_interface.name, manager_interface.version = b"zwlr_virtual_pointer_manager_v1", 1
manager_interface.method_count, manager_interface.methods = len(manager_methods), manager_methods

wl.wl_display_connect.restype = ctypes.c_void_p
wl.wl_proxy_marshal_constructor.restype = ctypes.c_void_p
wl.wl_proxy_marshal_constructor_versioned.restype = ctypes.c_void_p
GLOBAL = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint32, ctypes.c_char_p, ctypes.c_uint32)
GLOBAL_REMOVE = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint32)


class RegistryListener(ctypes.Structure):
    _fields_ = [("global_", GLOBAL), ("global_remove", GLOBAL_REMOVE)]


def main():
    x, y, button = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    stay = float(sys.argv[4]) if len(sys.argv) > 4 else 0.0
    width, height = (int(v) for v in os.environ.get("WAYLAND_POINTER_OUTPUT", "1024x600").split("x"))
    code = {"left": 0x110, "right": 0x111, "middle": 0x112}[button]  # BTN_LEFT, BTN_RIGHT, BTN_MIDDLE

    display = wl.wl_display_connect(None)
    if not display:
        sys.exit("wayland-pointer: no Wayland display")
    registry = wl.wl_proxy_marshal_constructor(ctypes.c_void_p(display), ctypes.c_uint32(1),
                                               ctypes.byref(registry_interface), None)
    found = {}

    def on_global(_data, proxy, name, interface, version):
        wanted = {b"wl_seat": seat_interface, b"zwlr_virtual_pointer_manager_v1": manager_interface}
        if interface in wanted and interface not in found:
            found[interface] = wl.wl_proxy_marshal_constructor_versioned(
                ctypes.c_void_p(proxy), ctypes.c_uint32(0), ctypes.byref(wanted[interface]), ctypes.c_uint32(1),
                ctypes.c_uint32(name), ctypes.c_char_p(interface), ctypes.c_uint32(1), None)

    listener = RegistryListener(GLOBAL(on_global), GLOBAL_REMOVE(lambda *_: None))
    wl.wl_proxy_add_listener(ctypes.c_void_p(registry), ctypes.byref(listener), None)
    wl.wl_display_roundtrip(ctypes.c_void_p(display))
    if b"zwlr_virtual_pointer_manager_v1" not in found:
        sys.exit("wayland-pointer: the compositor offers no virtual pointer")
    pointer = wl.wl_proxy_marshal_constructor(
        ctypes.c_void_p(found[b"zwlr_virtual_pointer_manager_v1"]), ctypes.c_uint32(0),
        ctypes.byref(pointer_interface), ctypes.c_void_p(found.get(b"wl_seat")), None)

    def send(opcode, *args):
        wl.wl_proxy_marshal(ctypes.c_void_p(pointer), ctypes.c_uint32(opcode), *(ctypes.c_uint32(a) for a in args))

    def stamp():
        return int(time.monotonic() * 1000) & 0xFFFFFFFF

    wl.wl_display_roundtrip(ctypes.c_void_p(display))
    time.sleep(0.5)  # clients see the seat's new pointer and take it
    send(1, stamp(), x, y, width, height)  # motion_absolute
    send(4)  # frame
    wl.wl_display_roundtrip(ctypes.c_void_p(display))
    time.sleep(0.2)
    send(2, stamp(), code, 1)  # button pressed
    send(4)
    wl.wl_display_roundtrip(ctypes.c_void_p(display))
    time.sleep(0.05)
    send(2, stamp(), code, 0)  # released
    send(4)
    wl.wl_display_roundtrip(ctypes.c_void_p(display))
    time.sleep(stay)
    wl.wl_display_disconnect(ctypes.c_void_p(display))


if __name__ == "__main__":
    main()
