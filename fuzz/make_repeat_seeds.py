#!/usr/bin/env python3
"""Writes the seeds of the model-reader fuzz targets that repeat faces, frames and keys.

Run from the repository root: python3 fuzz/make_repeat_seeds.py. The seeds go to
fuzz/corpus/<target>/repeat_*. They are kept small (a few hundred repeats); the fuzzers grow them
by their own repeat and copy mutations up to the maximum length in fuzz/seeds/<target>.max_len,
so that loads whose work grows faster than the input (one face repeated, long frame chains, many
keys of one bone) are within their reach. The MV1 seeds come from the tests' MV1 writer
(fuzz/make_mv1_repeat_seeds.cpp).
"""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def put(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("latin-1"))


# ---- X, text form ----
X_HEAD = "xof 0303txt 0032\n"
TRI = "3;\n0.0;0.0;0.0;,\n1.0;0.0;0.0;,\n0.0;1.0;0.0;;\n"


def x_mesh(faces, positions=TRI, normals=""):
    return "Mesh {\n%s%d;\n%s;\n%s}\n" % (positions, len(faces), ",\n".join(faces), normals)


def x_seeds():
    seeds = {}
    # one triangle repeated (generated normals walk a fan of identical faces)
    seeds["repeat_triangle.x"] = X_HEAD + "Frame F {\n" + x_mesh(["3;0,1,2;"] * 400) + "}\n"
    # a mirrored pair repeated
    seeds["repeat_pair.x"] = X_HEAD + "Frame F {\n" + x_mesh(["3;0,1,2;", "3;2,1,0;"] * 200) + "}\n"
    # faces of 32 corners over 32 positions
    ring = "32;\n" + ",\n".join("%d.0;%d.0;0.0;" % (i % 7, i // 7) for i in range(32)) + ";\n"
    big = "32;" + ",".join(str(i) for i in range(32)) + ";"
    seeds["repeat_fan32.x"] = X_HEAD + "Frame F {\n" + x_mesh([big] * 60, ring) + "}\n"
    # many unnamed sibling frames, and a chain of frames each referencing one mesh
    seeds["repeat_frames.x"] = X_HEAD + "Frame {\n}\n" * 300
    chain = X_HEAD + "Mesh M {\n" + TRI + "1;\n3;0,1,2;;\n}\n"
    chain += "Frame {\n{ M }\n" * 60 + "}\n" * 60
    seeds["repeat_chain.x"] = chain
    # one animation key set of many keys, and many animations of one key
    keys = ",\n".join("%d;3;%d.0,0.0,0.0;;" % (t, t % 5) for t in range(300))
    seeds["repeat_keys.x"] = (X_HEAD + "Frame F {\n" + x_mesh(["3;0,1,2;"]) + "}\n" +
                              "AnimationSet S {\nAnimation {\n{ F }\nAnimationKey {\n2;\n300;\n" +
                              keys + ";\n}\n}\n}\n")
    anims = "Animation {\n{ F }\nAnimationKey { 0; 1; 0;4;1.0,0.0,0.0,0.0;;; }\n}\n" * 150
    seeds["repeat_anims.x"] = (X_HEAD + "Frame F {\n" + x_mesh(["3;0,1,2;"]) + "}\n" +
                               "AnimationSet S {\n" + anims + "}\n")
    return seeds


# ---- X, binary form ----
def b16(v):
    return struct.pack("<H", v)


def bname(s):
    return b16(1) + struct.pack("<I", len(s)) + s.encode()


def bints(values):
    return b16(6) + struct.pack("<I", len(values)) + b"".join(struct.pack("<I", v) for v in values)


def bfloats(values):
    return b16(7) + struct.pack("<I", len(values)) + b"".join(struct.pack("<f", v) for v in values)


OPEN, CLOSE = b16(10), b16(11)


def x_binary_seeds():
    head = b"xof 0303bin 0032"
    mesh = (bname("Mesh") + OPEN + bints([3]) + bfloats([0, 0, 0, 1, 0, 0, 0, 1, 0]) +
            bints([400] + [3, 0, 1, 2] * 400) + CLOSE)
    frames = (bname("Frame") + OPEN + CLOSE) * 300
    return {"repeat_triangle_bin.x": head + bname("Frame") + bname("F") + OPEN + mesh + CLOSE,
            "repeat_frames_bin.x": head + frames}


# ---- MQO ----
MQO_HEAD = "Metasequoia Document\r\nFormat Text Ver 1.0\r\n"


def mqo_object(name, faces, depth=0, extra=""):
    return ('Object "%s" {\r\n\tdepth %d\r\n%s\tvertex 3 {\r\n\t\t0 0 0\r\n\t\t1 0 0\r\n\t\t0 1 0\r\n'
            "\t}\r\n\tface %d {\r\n%s\t}\r\n}\r\n" %
            (name, depth, extra, len(faces), "".join("\t\t%s\r\n" % f for f in faces)))


def mqo_seeds():
    tri = "3 V(0 1 2)"
    return {
        "repeat_triangle.mqo": MQO_HEAD + mqo_object("o", [tri] * 400) + "Eof\r\n",
        "repeat_mirror.mqo": MQO_HEAD + mqo_object("o", ["4 V(0 1 2 0)"] * 200,
                                                    extra="\tmirror 1\r\n\tmirror_axis 7\r\n") + "Eof\r\n",
        "repeat_objects.mqo": MQO_HEAD + "".join(mqo_object("o%d" % i, [tri]) for i in range(200)) + "Eof\r\n",
        "repeat_chain.mqo": MQO_HEAD + "".join(mqo_object("c%d" % i, [tri], depth=i) for i in range(100)) + "Eof\r\n",
    }


# ---- PMD and VMD ----
def f32(v):
    return struct.pack("<f", v)


def pmd(vertices, indices, bones, iks=b"", ik_count=0):
    b = bytearray(b"Pmd" + f32(1.0))
    b += b"\0" * (283 - len(b))
    b += struct.pack("<I", len(vertices))
    for (x, y, z) in vertices:  # position, normal, uv, two bones, weight, edge flag
        b += f32(x) + f32(y) + f32(z) + f32(0) + f32(0) + f32(-1) + f32(0) + f32(0)
        b += struct.pack("<HHBB", 0, 0, 100, 0)
    b += struct.pack("<I", len(indices)) + b"".join(struct.pack("<H", i) for i in indices)
    b += struct.pack("<I", 1)  # one material holding every face
    b += f32(1) * 4 + f32(5) + f32(0) * 3 + f32(0.5) * 3 + b"\0\0" + struct.pack("<I", len(indices))
    b += b"\0" * 20
    b += struct.pack("<H", len(bones))
    for (name, parent, y) in bones:
        b += name.encode().ljust(20, b"\0") + struct.pack("<HHBH", parent, 0, 0, 0) + f32(0) + f32(y) + f32(0)
    b += struct.pack("<H", ik_count) + iks
    b += struct.pack("<H", 0)  # no morphs
    return bytes(b)


def vmd(keys):
    b = bytearray(b"Vocaloid Motion Data 0002\0".ljust(30, b"\0") + b"model".ljust(20, b"\0"))
    b += struct.pack("<I", len(keys))
    curve = bytes([20, 20, 0, 0, 20, 20, 0, 0, 107, 107, 0, 0, 107, 107, 0, 0] * 4)
    for (name, frame, y) in keys:
        b += name.encode().ljust(15, b"\0") + struct.pack("<I", frame) + f32(0) + f32(y) + f32(0)
        b += f32(0) + f32(0) + f32(0) + f32(1) + curve
    b += struct.pack("<I", 0)
    return bytes(b)


def pmd_seeds():
    tri = [(0, 0, 0), (1, 0, 0), (0, 1, 0)]
    chain = [("b%d" % i, 0xFFFF if i == 0 else i - 1, float(i)) for i in range(120)]
    keys = [("b%d" % (i % 120), (i // 120) * 50, 1.0) for i in range(240)]
    one_bone = [("b0", t, float(t % 3)) for t in range(150)]
    return {
        # the motion beside the model is what follows the morphs
        "repeat_faces.pmd": pmd(tri, [0, 1, 2] * 500, chain[:2]),
        "repeat_bones_keys.pmd": pmd(tri, [0, 1, 2], chain) + vmd(keys),
        "repeat_one_bone_keys.pmd": pmd(tri, [0, 1, 2], chain[:2]) + vmd(one_bone),
    }


def vmd_seeds():
    return {
        "repeat_one_bone.vmd": vmd([("thigh", t, float(t % 4)) for t in range(150)]),
        "repeat_same_frame.vmd": vmd([("center", 7, float(i)) for i in range(150)]),
        "repeat_descending.vmd": vmd([("legIK", 300 - t, 1.0) for t in range(150)]),
        "repeat_far_ends.vmd": vmd([("ankle", 0, 0.0), ("ankle", 999, 1.0)] * 100),
    }


def main():
    for name, data in x_seeds().items():
        put("x_fuzz", name, data)
        put("xmodel_fuzz", name, data)
    for name, data in x_binary_seeds().items():
        put("x_fuzz", name, data)
        put("xmodel_fuzz", name, data)
    for name, data in mqo_seeds().items():
        put("mqo_fuzz", name, data)
    for name, data in pmd_seeds().items():
        put("pmd_fuzz", name, data)
    for name, data in vmd_seeds().items():
        put("vmd_fuzz", name, data)


if __name__ == "__main__":
    main()
