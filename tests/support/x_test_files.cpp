#include "tests/support/x_test_files.h"

#include <iconv.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include <qzlib/modelimport/x/xfile_parser.h>

std::string XTestSjis(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  std::string in = utf8;
  std::vector<char> out(in.size() * 2 + 16);
  char* ip = in.data();
  char* op = out.data();
  size_t il = in.size(), ol = out.size();
  iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  return std::string(out.data(), op - out.data());
}

std::string XTestReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string XBinaryBuilder::Raw16(uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string XBinaryBuilder::Raw32(uint32_t v) { return Raw16(static_cast<uint16_t>(v & 0xFFFF)) + Raw16(static_cast<uint16_t>(v >> 16)); }

std::string XBinaryBuilder::IntList(const uint32_t* v, size_t n) const {
  std::string s = Raw16(6) + Raw32(static_cast<uint32_t>(n));
  for (size_t i = 0; i < n; ++i) s += Raw32(v[i]);
  return s;
}
std::string XBinaryBuilder::FloatList(const float* v, size_t n) const {
  std::string s = Raw16(7) + Raw32(static_cast<uint32_t>(n));
  for (size_t i = 0; i < n; ++i) {
    if (float64_) {
      double d = v[i];
      s.append(reinterpret_cast<const char*>(&d), 8);
    } else {
      s.append(reinterpret_cast<const char*>(&v[i]), 4);
    }
  }
  return s;
}
std::string XBinaryBuilder::Ints(std::initializer_list<uint32_t> v) const { return IntList(v.begin(), v.size()); }
std::string XBinaryBuilder::Floats(std::initializer_list<double> v) const {
  std::vector<float> f(v.begin(), v.end());
  return FloatList(f.data(), f.size());
}

namespace {

struct Writer {
  XBinaryBuilder b;
  std::string Faces(const XFaceList& f) {
    std::vector<uint32_t> v{f.count};
    for (uint32_t i = 0; i < f.count; ++i) {
      v.push_back(XFaceVertexCount(f, i));
      for (uint32_t k = 0; k < XFaceVertexCount(f, i); ++k) v.push_back(XFaceIndices(f, i)[k]);
    }
    return b.IntList(v.data(), v.size());
  }
  std::string Data(const XFileObject* o) {
    const auto& d = o->data;
    switch (o->type) {
      case XOBJ_MATERIAL: {
        std::vector<float> v(d.material.faceColor, d.material.faceColor + 4);
        v.push_back(d.material.power);
        v.insert(v.end(), d.material.specular, d.material.specular + 3);
        v.insert(v.end(), d.material.emissive, d.material.emissive + 3);
        return b.FloatList(v.data(), v.size());
      }
      case XOBJ_TEXTUREFILENAME: return b.String(d.textureFilename.fileName);
      case XOBJ_MESHFACE: {
        std::vector<uint32_t> v{XFaceVertexCount(d.meshFace, 0)};
        v.insert(v.end(), XFaceIndices(d.meshFace, 0), XFaceIndices(d.meshFace, 0) + v[0]);
        return b.IntList(v.data(), v.size());
      }
      case XOBJ_MESHTEXTURECOORDS:
        return b.Ints({d.textureCoords.count}) + b.FloatList(&d.textureCoords.coords[0].u, d.textureCoords.count * 2);
      case XOBJ_MESHNORMALS:
        return b.Ints({d.meshNormals.normalCount}) + b.FloatList(&d.meshNormals.normals[0].x, d.meshNormals.normalCount * 3) +
               Faces(d.meshNormals.faces);
      case XOBJ_MESHMATERIALLIST: {
        std::vector<uint32_t> v{d.materialList.nMaterials, d.materialList.nFaceIndexes};
        v.insert(v.end(), d.materialList.indices, d.materialList.indices + d.materialList.nFaceIndexes);
        return b.IntList(v.data(), v.size());
      }
      case XOBJ_INDEXEDCOLOR: return b.Ints({d.indexedColor.index}) + b.FloatList(&d.indexedColor.color.r, 4);
      case XOBJ_MESHVERTEXCOLORS: {
        std::string s = b.Ints({d.vertexColors.count});
        for (uint32_t i = 0; i < d.vertexColors.count; ++i)
          s += b.Ints({d.vertexColors.colors[i].index}) + b.FloatList(&d.vertexColors.colors[i].color.r, 4);
        return s;
      }
      case XOBJ_MESH:
        return b.Ints({d.mesh.vertexCount}) + b.FloatList(&d.mesh.vertices[0].x, d.mesh.vertexCount * 3) + Faces(d.mesh.faces);
      case XOBJ_FRAMETRANSFORMMATRIX: return b.FloatList(&d.transformMatrix.m[0][0], 16);
      case XOBJ_FLOATKEYS: return b.Ints({d.floatKeys.count}) + b.FloatList(d.floatKeys.values, d.floatKeys.count);
      case XOBJ_TIMEDFLOATKEYS:
        return b.Ints({d.timedFloatKeys.time, d.timedFloatKeys.keys.count}) +
               b.FloatList(d.timedFloatKeys.keys.values, d.timedFloatKeys.keys.count);
      case XOBJ_ANIMATIONKEY: {
        std::string s = b.Ints({d.animationKey.keyType, d.animationKey.keyCount});
        for (uint32_t i = 0; i < d.animationKey.keyCount; ++i) {
          const auto& k = d.animationKey.keys[i];
          s += b.Ints({k.time, k.keys.count}) + b.FloatList(k.keys.values, k.keys.count);
        }
        return s;
      }
      case XOBJ_ANIMATIONOPTION:
        return b.Ints({static_cast<uint32_t>(d.animationOption.openClosed), static_cast<uint32_t>(d.animationOption.positionQuality)});
      case XOBJ_XSKINMESHHEADER:
        return b.Ints({static_cast<uint32_t>(d.skinMeshHeader.maxWeightsPerVertex),
                       static_cast<uint32_t>(d.skinMeshHeader.maxWeightsPerFace), static_cast<uint32_t>(d.skinMeshHeader.bones)});
      case XOBJ_SKINWEIGHTS: {
        const auto& s = d.skinWeights;
        std::vector<uint32_t> iv{s.weightCount};
        iv.insert(iv.end(), s.indices, s.indices + s.weightCount);
        std::vector<float> fv(s.weights, s.weights + s.weightCount);
        fv.insert(fv.end(), &s.offset.m[0][0], &s.offset.m[0][0] + 16);
        return b.String(s.transformNodeName) + b.IntList(iv.data(), iv.size()) + b.FloatList(fv.data(), fv.size());
      }
      default: return "";
    }
  }
  std::string Object(const XFileObject* o) {
    std::string s = b.Name(XFileTemplateNames[o->type]);
    if (o->name[0]) s += b.Name(o->name);
    s += b.Open() + Data(o);
    // children and the references written in the file, in file order as far as the tree keeps it
    for (const XFileObject* c = o->firstChild; c; c = c->nextSibling) s += Object(c);
    for (uint32_t i = 0; i < o->refCount; ++i)
      if (o->refNames[i]) s += b.Open() + b.Name(o->refNames[i]) + b.Close();
    return s + b.Close();
  }
};

}  // namespace

std::string XWriteBinary(const XFileObjectList& list, bool float64) {
  Writer w{XBinaryBuilder(float64)};
  std::string s = float64 ? "xof 0303bin 0064" : "xof 0303bin 0032";
  for (const XFileObject* c = list.first ? list.first->firstChild : nullptr; c; c = c->nextSibling) s += w.Object(c);
  return s;
}
