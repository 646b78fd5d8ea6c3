#include "tests/support/model_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <qzlib/file/path.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_buffers.h>
#include <qzlib/platform/d3d_device.h>

std::vector<uint8_t> BgraFile(int width, int height, const std::vector<uint32_t>& argb) {
  std::vector<uint8_t> out = {'B', 'G', 'R', 'A'};
  for (uint32_t v : {static_cast<uint32_t>(width), static_cast<uint32_t>(height)})
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  for (uint32_t p : argb) {
    out.push_back(static_cast<uint8_t>(p));
    out.push_back(static_cast<uint8_t>(p >> 8));
    out.push_back(static_cast<uint8_t>(p >> 16));
    out.push_back(static_cast<uint8_t>(p >> 24));
  }
  return out;
}

std::vector<uint8_t> BgraFileFilled(int width, int height, uint32_t argb) {
  return BgraFile(width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height, argb));
}

bool WriteEngineFile(const std::string& enginePath, const std::vector<uint8_t>& bytes) {
  std::string os;
  if (!EnginePathToOs(enginePath.c_str(), &os)) return false;
  FILE* f = std::fopen(os.c_str(), "wb");
  if (!f) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), bytes.size(), 1, f) == 1;
  return std::fclose(f) == 0 && ok;
}

bool MakeEngineFolder(const std::string& enginePath) {
  std::string os;
  if (!EnginePathToOs(enginePath.c_str(), &os)) return false;
  return mkdir(os.c_str(), 0755) == 0 || access(os.c_str(), F_OK) == 0;
}

void RemoveEnginePath(const std::string& enginePath) {
  std::string os;
  if (EnginePathToOs(enginePath.c_str(), &os)) std::remove(os.c_str());
}

std::vector<std::vector<uint8_t>> DeviceBufferBytes(const MV1ModelBase* base) {
  std::vector<std::vector<uint8_t>> out;
  for (int i = 0; i < base->TriangleListCount; ++i) {
    const MV1VertexBuffer* r = base->TriangleList[i].VertexBuffer;
    if (!r || !r->VertexBuffer) continue;
    out.emplace_back(r->VertexBuffer->Bytes(), r->VertexBuffer->Bytes() + r->VertexBuffer->Size());
    out.emplace_back(r->IndexBuffer->Bytes(), r->IndexBuffer->Bytes() + r->IndexBuffer->Size());
  }
  return out;
}

std::vector<std::vector<uint8_t>> ModelDynamicBufferBytes(const MV1Model* model) {
  std::vector<std::vector<uint8_t>> out;
  for (int i = 0; i < model->BaseData->TriangleListCount; ++i) {
    auto* vb = static_cast<const D3DVertexBuffer*>(model->TriangleList[i].VertexBuffer);
    if (vb) out.emplace_back(vb->Bytes(), vb->Bytes() + vb->Size());
  }
  return out;
}

std::vector<std::vector<uint32_t>> TextureGraphPixels(const MV1ModelBase* base) {
  std::vector<std::vector<uint32_t>> out;
  for (int t = 0; t < base->TextureCount; ++t) {
    const D3DTexture* tex = GetGraphTexture(base->Texture[t].GraphHandle);
    out.push_back(tex ? tex->Pixels()->Pixels : std::vector<uint32_t>());
  }
  return out;
}
