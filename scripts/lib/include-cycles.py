#!/usr/bin/env python3
"""Lists the include cycles between the units of the library and the window.

A unit is a .h/.cpp pair under net/, http/ or app/; unit A depends on unit B when either file
of A includes B's header. Prints each cycle as its units and exits 1 when there is one, else
prints nothing and exits 0. Run from the repository's root.
"""
import collections
import pathlib
import re
import sys

INCLUDE = re.compile(r'^#include "((?:net|http|app)/[^"]+)\.h"', re.M)


def dependencies():
    graph = collections.defaultdict(set)
    for path in sorted(pathlib.Path('.').glob('*/*')):
        if path.parts[0] not in ('net', 'http', 'app') or path.suffix not in ('.h', '.cpp'):
            continue
        unit = str(path.with_suffix(''))
        graph[unit] |= {u for u in INCLUDE.findall(path.read_text()) if u != unit}
    return graph


def cycles(graph):
    """The strongly connected groups of more than one unit (Tarjan's algorithm, iterative)."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []
    for root in list(graph):
        if root in index:
            continue
        work = [(root, iter(sorted(graph[root])))]
        index[root] = low[root] = len(index)
        stack.append(root)
        on_stack.add(root)
        while work:
            unit, edges = work[-1]
            step = next(edges, None)
            if step is not None:
                if step not in index:
                    index[step] = low[step] = len(index)
                    stack.append(step)
                    on_stack.add(step)
                    work.append((step, iter(sorted(graph[step]))))
                elif step in on_stack:
                    low[unit] = min(low[unit], index[step])
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[unit])
            if low[unit] == index[unit]:
                group = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    group.append(member)
                    if member == unit:
                        break
                if len(group) > 1:
                    found.append(sorted(group))
    return found


def main():
    found = cycles(dependencies())
    for group in found:
        print('include cycle among: ' + ', '.join(group))
    return 1 if found else 0


if __name__ == '__main__':
    sys.exit(main())
