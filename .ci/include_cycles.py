#!/usr/bin/env python3
"""Lists include cycles between units (a unit is X.h with X.cpp) under src/: each group of
units that reach one another through their includes, with the includes inside the group.
Exits with 1 when there is one."""
import os, re, sys
from collections import defaultdict

src = sys.argv[1] if len(sys.argv) > 1 else 'src'
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
units = {}
for root, _, files in os.walk(src):
    for f in files:
        if f.endswith(('.h', '.cpp')):
            path = os.path.join(root, f)
            units.setdefault(os.path.relpath(os.path.splitext(path)[0], src), []).append(path)

edges = defaultdict(set)
for unit, paths in units.items():
    for path in paths:
        for name in include.findall(open(path, encoding='utf-8').read()):
            for base in (os.path.dirname(path), src):
                target = os.path.relpath(os.path.splitext(os.path.join(base, name))[0], src)
                if target in units:
                    if target != unit:
                        edges[unit].add(target)
                    break

# Tarjan's strongly connected components: a group of more than one unit is a cycle.
index, low, stack, on, groups, n = {}, {}, [], set(), [], [0]
def visit(v):
    index[v] = low[v] = n[0]; n[0] += 1; stack.append(v); on.add(v)
    for w in edges[v]:
        if w not in index:
            visit(w); low[v] = min(low[v], low[w])
        elif w in on:
            low[v] = min(low[v], index[w])
    if low[v] == index[v]:
        group = []
        while True:
            w = stack.pop(); on.discard(w); group.append(w)
            if w == v: break
        if len(group) > 1:
            groups.append(sorted(group))
sys.setrecursionlimit(10000)
for v in sorted(units):
    if v not in index:
        visit(v)
for group in groups:
    print('cycle: ' + ', '.join(group))
    for u in group:
        for w in sorted(edges[u] & set(group)):
            print(f'    {u} -> {w}')
print(f'{len(groups)} include cycle(s) among {len(units)} units')
sys.exit(1 if groups else 0)
