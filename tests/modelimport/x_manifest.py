#!/usr/bin/env python3
"""Derives the X file manifest of the model import tests from the files themselves.

An independent reading of the X format (text and binary) that shares no code with the engine:
it counts what the read model of each file must hold (frames, meshes, materials, textures,
skin-weight blocks, animation sets, animations, key sets) and the triangles of its meshes, and
prints one line per file in the form of the manifest table of xfile_model_test.cpp.

Usage: x_manifest.py FOLDER
"""
import os
import re
import struct
import sys

NUM = re.compile(r'^[-+.0-9]')


def text_tokens(data):
    s = data[16:].decode('latin-1')
    i, n, out = 0, len(s), []
    word = ''

    def flush():
        nonlocal word
        if word:
            out.append(('num', float(word)) if NUM.match(word) else ('name', word))
        word = ''
    while i < n:
        c = s[i]
        if c == '/' and s.startswith('//', i) or (c == '#' and not word):
            flush()
            while i < n and s[i] != '\n':
                i += 1
        elif c == '"':
            flush()
            j = s.index('"', i + 1)
            out.append(('str', s[i + 1:j]))
            i = j + 1
            continue
        elif c in '{}':
            flush()
            out.append((c, None))
        elif c in ' \r\n\t,;':
            flush()
        else:
            word += c
        i += 1
    flush()
    return out


def binary_tokens(data):
    wide = data[12:16] == b'0064'
    p, out = 16, []
    while p + 2 <= len(data):
        tid = struct.unpack_from('<H', data, p)[0]
        p += 2
        if tid == 1:
            k = struct.unpack_from('<I', data, p)[0]
            out.append(('name', data[p + 4:p + 4 + k].decode('latin-1')))
            p += 4 + k
        elif tid == 2:
            k = struct.unpack_from('<I', data, p)[0]
            out.append(('str', data[p + 4:p + 4 + k].decode('latin-1')))
            p += 4 + k + 2
        elif tid == 3:
            out.append(('num', struct.unpack_from('<I', data, p)[0]))
            p += 4
        elif tid == 5:
            p += 16
        elif tid in (6, 7):
            k = struct.unpack_from('<I', data, p)[0]
            p += 4
            size = 8 if (tid == 7 and wide) else 4
            fmt = '<I' if tid == 6 else ('<d' if wide else '<f')
            for _ in range(k):
                out.append(('num', struct.unpack_from(fmt, data, p)[0]))
                p += size
        elif tid == 10:
            out.append(('{', None))
        elif tid == 11:
            out.append(('}', None))
        elif tid == 31:
            out.append(('name', 'template'))
    return out


class Obj:
    def __init__(self, kind, name, parent):
        self.kind, self.name, self.parent = kind, name, parent
        self.children, self.refs, self.nums, self.strs = [], [], [], []


def build(tokens):
    top = Obj('Frame', 'XTopFrame', None)
    objs = []
    i = 0

    def skip_block(i):
        while tokens[i][0] != '{':
            i += 1
        depth = 0
        while True:
            t = tokens[i][0]
            depth += (t == '{') - (t == '}')
            i += 1
            if depth == 0:
                return i

    def parse_body(obj, i):
        while i < len(tokens):
            t, v = tokens[i]
            if t == '}':
                return i + 1
            if t == '{':  # a reference
                obj.refs.append(tokens[i + 1][1])
                i += 3
            elif t == 'num':
                obj.nums.append(v)
                i += 1
            elif t == 'str':
                obj.strs.append(v)
                i += 1
            elif v == 'template' or v.startswith('<'):
                i = skip_block(i) if v == 'template' else i + 1
            else:
                kind = v
                i += 1
                name = ''
                if tokens[i][0] == 'name':
                    name = tokens[i][1]
                    i += 1
                child = Obj(kind.lower(), name, obj)
                obj.children.append(child)
                objs.append(child)
                i = parse_body(child, i + 1)
        return i
    parse_body(top, 0)
    return top, objs


def manifest(path):
    data = open(path, 'rb').read()
    if len(data) < 16 or data[:4] != b'xof ':
        return None
    if data[8:12] not in (b'txt ', b'bin '):
        return 'compressed'
    top, objs = build(text_tokens(data) if data[8:12] == b'txt ' else binary_tokens(data))
    by_name = {}
    for o in objs:
        if o.name:
            by_name.setdefault(o.name, o)
    frame_names = {o.name for o in objs if o.kind == 'frame' and o.name}

    def collected(o, kind):
        got = [c for c in o.children if c.kind == kind]
        return got + [by_name[r] for r in o.refs if r in by_name and by_name[r].kind == kind]
    frames = [o for o in objs if o.kind == 'frame']
    in_frames = {id(m) for f in frames for m in collected(f, 'mesh')}
    conversions = []  # (mesh, gets a frame of its own)
    for f in frames:
        for m in collected(f, 'mesh'):
            conversions.append((m, bool(m.name) or m.parent is top))
    for m in collected(top, 'mesh'):
        if id(m) not in in_frames:
            conversions.append((m, True))
    rm_frames = len(frames) + sum(own for _, own in conversions)
    materials = sum(o.kind == 'material' for o in objs)
    materials += sum(not collected(m, 'meshmateriallist') for m, _ in conversions)
    textures = set()
    for o in objs:
        if o.kind == 'material':
            tex = collected(o, 'texturefilename')
            if not tex and o.parent.parent is not None:  # inherits from the material before it
                sib = o.parent.children
                k = sib.index(o)
                while not tex and k > 0 and sib[k - 1].kind == 'material':
                    k -= 1
                    tex = collected(sib[k], 'texturefilename')
            if tex:
                textures.add(tex[0].strs[0])
    skin = sum(1 for m, _ in conversions for s in collected(m, 'skinweights') if s.strs[0] in frame_names)
    triangles = 0
    for m, _ in conversions:
        nv = int(m.nums[0])
        k = 1 + 3 * nv
        nf = int(m.nums[k])
        k += 1
        for _ in range(nf):
            c = int(m.nums[k])
            triangles += max(c - 2, 0)
            k += 1 + c
    sets = [o for o in objs if o.kind == 'animationset']
    anims = [a for s in sets for a in collected(s, 'animation') if collected(a, 'frame')]
    keys = sum(1 for a in anims for k in collected(a, 'animationkey') if k.nums[1] > 0)
    return (rm_frames, len(conversions), materials, len(textures), skin, len(sets), len(anims), keys, triangles)


def main():
    folder = sys.argv[1]
    for name in sorted(os.listdir(folder), key=str.lower):
        if not name.lower().endswith('.x'):
            continue
        r = manifest(os.path.join(folder, name))
        print(name, r)


if __name__ == '__main__':
    main()
