#!/usr/bin/python3
"""Asks a running window random questions over the accessibility bus for SECONDS, as a screen
reader gone wild would: any table, table-cell, text or indexed question about either list, one
of its rows or a row kept from before the lists changed, at indexes from -2^31 to 2^31 - 1.
Prints the count of calls and whether the window survived; exits 1 if it did not.

    atspi_soak.py PID SECONDS
"""
import os
import random
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import atspi_questions as questions  # noqa: E402
import atspi_reader as reader  # noqa: E402
from gi.repository import Atspi  # noqa: E402


def alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except ProcessLookupError:
        return False


def index(count):
    pick = random.random()
    if pick < 0.4:
        return random.choice(questions.edges(count))
    if pick < 0.7:
        return random.randrange(max(count, 1))
    return random.randint(-2**31, 2**31 - 1)


def main():
    pid, seconds = int(sys.argv[1]), float(sys.argv[2])
    win = reader.window(pid)
    lists = list(reader.lists(win).values())
    kept = []  # rows asked for earlier, stale once their list is cleared
    calls = refused = 0
    faults = {}
    end = time.monotonic() + seconds
    while time.monotonic() < end and alive(pid):
        lst = random.choice(lists)
        try:
            count = Atspi.Table.get_n_rows(lst)
            calls += 1
            target, asked = lst, questions.FOR_LISTS
            if random.random() < 0.5:
                row = Atspi.Accessible.get_child_at_index(lst, index(count))
                calls += 1
                if row is not None:
                    kept = (kept + [row])[-50:]
                    target, asked = row, questions.FOR_ROWS
            elif kept and random.random() < 0.3:
                target, asked = random.choice(kept), questions.FOR_ROWS
            question = random.choice(asked)
            args = tuple(index(count) if a == "i" else a for a in question[2])
            calls += 1
            if questions.ask(target, question, args) == "error":
                refused += 1
        except Exception as fault:  # a fault of the asking, not of the window
            name = type(fault).__name__ + ": " + str(fault)[:100]
            faults[name] = faults.get(name, 0) + 1
    survived = alive(pid)
    if survived:
        calls += 1
        survived = win.get_name() == "Quorvel Software"
    print("calls %d (refused %d) in %.0f s; window survived: %s"
          % (calls, refused, seconds, "yes" if survived else "NO"))
    for name, times in sorted(faults.items()):
        print("asking failed %d times: %s" % (times, name))
    return 0 if survived else 1


sys.exit(main())
