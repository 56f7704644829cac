#!/usr/bin/python3
"""Reads a running window over the accessibility bus, as a screen reader does, and prints
what it finds as JSON.

    atspi_reader.py PID lists            both lists: name, row count, each row's name and states
    atspi_reader.py PID row LIST ROW     one row of a list, with the seconds the query took
    atspi_reader.py PID toggle LIST ROW  the row's toggle action (its check box)
    atspi_reader.py PID focus            says "listening", then the name of the next object
                                         that gains focus
    atspi_reader.py PID tree             the window's tree, a few children of each
    atspi_reader.py PID probe LIST...    every question about each list and its first row, at
                                         the indexes just outside the list: "LIST: call" -> answer,
                                         and the window's name and role
"""
import json
import signal
import sys
import time

import pyatspi
from gi.repository import Atspi, GLib

import atspi_questions as questions


def window(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for _ in range(100):  # the window registers with the bus as it starts
        for app in desktop:
            if app is not None and app.get_process_id() == pid and app.childCount:
                return app.getChildAtIndex(0)
        time.sleep(0.1)
    sys.exit("no window of process %d on the accessibility bus" % pid)


def states(acc):
    return sorted(pyatspi.stateToString(s) for s in acc.getState().getStates())


def lists(win):
    return {child.name: child for child in win if child.getRole() == pyatspi.ROLE_LIST}


def row(acc):
    return {"name": acc.name, "role": acc.getRoleName(), "states": states(acc)}


def tree(acc, depth=0):
    shown = [tree(acc.getChildAtIndex(i), depth + 1) for i in range(min(acc.childCount, 3))]
    return {"role": acc.getRoleName(), "name": acc.name, "children": acc.childCount,
            "first": shown}


def probe(acc, asked, prefix):
    """Puts every question in asked to acc at the edges of its list; call -> answer."""
    table = acc if acc.getRole() == pyatspi.ROLE_LIST else acc.parent
    count = Atspi.Table.get_n_rows(table)
    out = {}
    for question in asked:
        for args in questions.variants(question[2], questions.edges(count)):
            call = "%s%s(%s)" % (prefix, question[1], ", ".join(str(a) for a in args))
            out[call] = questions.ask(acc, question, args)
    return out


def main():
    signal.alarm(60)  # never outlive the test
    pid, command, args = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
    win = window(pid)
    if command == "lists":
        out = {name: {"count": acc.childCount, "states": states(acc),
                      "rows": [row(acc.getChildAtIndex(i)) for i in range(acc.childCount)]}
               for name, acc in lists(win).items()}
    elif command == "row":
        acc = lists(win)[args[0]]
        start = time.monotonic()
        count = acc.childCount
        out = row(acc.getChildAtIndex(int(args[1])))
        out.update(count=count, seconds=time.monotonic() - start)
    elif command == "toggle":
        action = lists(win)[args[0]].getChildAtIndex(int(args[1])).queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        out = {"actions": names,
               "done": "Toggle" in names and action.doAction(names.index("Toggle"))}
    elif command == "focus":
        focused = []

        def on_focus(event):
            if event.detail1:
                focused.append(event.source.name)
                pyatspi.Registry.stop()

        pyatspi.Registry.registerEventListener(on_focus, "object:state-changed:focused")
        print("listening", flush=True)
        GLib.timeout_add_seconds(30, pyatspi.Registry.stop)
        pyatspi.Registry.start()
        out = {"focused": focused}
    elif command == "probe":
        out = {"window": row(win)}
        for name in args:
            acc = lists(win)[name]
            out.update(probe(acc, questions.FOR_LISTS, name + ": "))
            if acc.childCount:
                out.update(probe(acc.getChildAtIndex(0), questions.FOR_ROWS, name + ": row "))
    else:
        out = tree(win)
    print(json.dumps(out))


if __name__ == "__main__":
    main()
