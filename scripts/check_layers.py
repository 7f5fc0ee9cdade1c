#!/usr/bin/env python3
"""Fails on an include or a symbol that climbs the layers.

Folders are layers, lowest first; a folder may use its own layer's folder and
any lower one, and only platform/ and the top reach the device stand-ins in
host/. With a build folder given, the same rule is checked on what each
library's objects actually call: every undefined symbol of a library must be
defined by the library itself or by one it may use.
"""
import os
import re
import subprocess
import sys

# folder -> layer; subsystems share a layer and reach each other only through
# the entry-point header each one owns (its folder's name .h).
LAYERS = {
    'base': 0, 'host': 1, 'regs': 2, 'platform': 3, 'plc': 4, 'gdi': 5,
    'screens': 6, 'objects': 6, 'serial': 6, 'data': 6, 'net': 6, 'iec': 6,
    'parvisdk': 6, 'web': 6,
    'system': 7, 'tools': 8,
}
HOST_USERS = {'host', 'platform', 'system', 'tools'}
# Libraries as built (CMake target -> folder).
LIBS = {'base': 'base', 'host': 'host', 'regs': 'regs', 'platform': 'platform', 'plc': 'plc',
        'gdi': 'gdi', 'screens': 'screens', 'objects': 'objects', 'serial': 'serial',
        'data': 'data', 'net': 'net', 'iec_kernel': 'iec', 'iec_lib': 'iec', 'iec_comm': 'iec',
        'parvisdk': 'parvisdk', 'web': 'web', 'system': 'system', 'tools_lib': 'tools'}


def may_use(user, used):
    if used == user:
        return True
    if used == 'host':
        return user in HOST_USERS
    return LAYERS[used] < LAYERS[user]


def may_link(user, used):
    # A subsystem calls another of its layer through the entry-point header
    # the other owns; the include check holds it to that header.
    return may_use(user, used) or LAYERS[used] == LAYERS[user] == 6


def may_include(user, header):
    used = header.split('/')[0]
    if used not in LAYERS or may_use(user, used):
        return True
    # A subsystem's entry-point header, from a subsystem of the same layer.
    return LAYERS[used] == LAYERS[user] == 6 and header == f'{used}/{used}.h'


def check_includes(root):
    bad = []
    for folder in LAYERS:
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for name in files:
                if not name.endswith(('.cpp', '.h', '.inc')):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root)
                with open(path, encoding='utf-8', errors='replace') as f:
                    for n, line in enumerate(f, 1):
                        m = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
                        if m and not may_include(folder, m.group(1)):
                            bad.append(f'{rel}:{n}: includes {m.group(1)} (a higher layer)')
    return bad


def symbols(archive):
    out = subprocess.run(['nm', '-g', '--defined-only', archive], capture_output=True,
                         text=True).stdout
    defined = {l.split()[-1] for l in out.splitlines() if len(l.split()) == 3}
    out = subprocess.run(['nm', '-g', '-u', archive], capture_output=True, text=True).stdout
    undefined = {l.split()[-1] for l in out.splitlines() if l.strip() and ':' not in l}
    return defined, undefined


def check_links(build):
    found = {}
    for target in LIBS:
        a = os.path.join(build, f'lib{target}.a')
        if os.path.exists(a):
            found[target] = symbols(a)
    owner = {}
    for target, (defined, _) in found.items():
        for s in defined:
            owner.setdefault(s, target)
    bad = []
    for target, (defined, undefined) in found.items():
        for s in sorted(undefined - defined):
            o = owner.get(s)
            if o and not may_link(LIBS[target], LIBS[o]):
                name = subprocess.run(['c++filt', s], capture_output=True, text=True).stdout.strip()
                bad.append(f'lib{target}.a calls {name} of lib{o}.a (a higher layer)')
    return bad


def check_duplicates(build):
    # A symbol defined by two objects links silently from static libraries:
    # the first one met wins (a placeholder over the real thing).
    where = {}
    for target in LIBS:
        a = os.path.join(build, f'lib{target}.a')
        if not os.path.exists(a):
            continue
        out = subprocess.run(['nm', '-g', '--defined-only', '-A', a], capture_output=True,
                             text=True).stdout
        for line in out.splitlines():
            parts = line.split()
            if len(parts) == 3 and parts[1] in 'TDBR':
                where.setdefault(parts[2], set()).add(parts[0].rsplit(':', 1)[0])
    bad = []
    for sym, objs in sorted(where.items()):
        if len(objs) > 1:
            name = subprocess.run(['c++filt', sym], capture_output=True, text=True).stdout.strip()
            bad.append(f'{name} is defined in {", ".join(sorted(objs))}')
    return bad


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    bad = check_includes(root)
    if len(sys.argv) > 1:
        bad += check_links(sys.argv[1])
        bad += check_duplicates(sys.argv[1])
    for b in bad:
        print(b)
    print(f'layers: {len(bad)} climbing')
    return 1 if bad else 0


if __name__ == '__main__':
    sys.exit(main())
