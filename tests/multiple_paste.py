#!/usr/bin/python3
"""Asks the clipboard for several targets in one MULTIPLE request, as some pasters do, and
prints what came back for them, one after another; nothing when the request is refused.
    multiple_paste.py TARGET...
"""
import sys

from Xlib import X, display

shown = display.Display()
window = shown.screen().root.create_window(0, 0, 1, 1, 0, X.CopyFromParent)
atom = shown.intern_atom
pairs = []
for i, target in enumerate(sys.argv[1:]):
    pairs += [atom(target), atom("QUORVEL_PASTE_%d" % i)]
request = atom("QUORVEL_PASTE_PAIRS")
window.change_property(request, atom("ATOM_PAIR"), 32, pairs)
window.convert_selection(atom("CLIPBOARD"), atom("MULTIPLE"), request, X.CurrentTime)
while True:
    event = shown.next_event()
    if event.type == X.SelectionNotify:
        break
got = b""
if event.property != X.NONE:
    for i in range(1, len(pairs), 2):
        reply = window.get_full_property(pairs[i], X.AnyPropertyType, sizehint=1 << 24)
        if reply is not None:
            got += bytes(reply.value) if not isinstance(reply.value, str) else reply.value.encode()
sys.stdout.buffer.write(got)
