// The recording stand-in device: refusals, reference counts, failure hooks, the call record and
// the per-draw snapshots.
#include <qzlib/platform/d3d_device.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/support/d3d_engine.h"

namespace {

class D3DDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    D3DStandIn() = RecordingStandIn();
    dev = D3DDevice::Create();
    buffers = D3DLiveBufferCount();
    textures = D3DLiveTextureCount();
  }
  void TearDown() override {
    dev->Release();
    D3DStandIn() = D3DStandInSettings{};
    EXPECT_EQ(D3DLiveBufferCount(), buffers);
    EXPECT_EQ(D3DLiveTextureCount(), textures);
    EXPECT_EQ(D3DLiveShaderCount(), 0);
  }
  D3DDevice* dev = nullptr;
  long buffers = 0, textures = 0;
};

TEST_F(D3DDeviceTest, RefusesAsThePlatformWould) {
  struct Case {
    bool index;
    uint32_t length, usage, format, pool;
    bool ok;
  };
  const Case cases[] = {
      {false, 0, D3DUSAGE_WRITEONLY, 0xD2, D3DPOOL_MANAGED, false},
      {false, 64, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, 0xD2, D3DPOOL_MANAGED, false},
      {false, 64, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, 0xD2, D3DPOOL_DEFAULT, true},
      {false, 64, D3DUSAGE_WRITEONLY, 0xD2, D3DPOOL_MANAGED, true},
      {true, 64, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, true},
      {true, 64, D3DUSAGE_WRITEONLY, D3DFMT_INDEX32, D3DPOOL_MANAGED, true},
      {true, 64, D3DUSAGE_WRITEONLY, 77, D3DPOOL_MANAGED, false},
      {true, 0, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, false},
      {true, 64, 0x208, D3DFMT_INDEX16, D3DPOOL_MANAGED, false},
  };
  for (const Case& c : cases) {
    D3DBuffer* b = reinterpret_cast<D3DBuffer*>(1);
    int hr = c.index ? dev->CreateIndexBuffer(c.length, c.usage, c.format, c.pool, &b)
                     : dev->CreateVertexBuffer(c.length, c.usage, c.format, c.pool, &b);
    EXPECT_EQ(hr == D3D_OK, c.ok) << c.length << " " << c.usage << " " << c.format;
    if (!c.ok) {
      EXPECT_EQ(b, nullptr);
      continue;
    }
    EXPECT_EQ(D3DLiveBufferCount(), buffers + 1);
    EXPECT_EQ(b->Size(), c.length);
    EXPECT_EQ(b->Usage(), c.usage);
    EXPECT_EQ(b->Pool(), c.pool);
    EXPECT_EQ(b->IsIndexBuffer(), c.index);
    b->Release();
  }
  D3DTexture* t = nullptr;
  EXPECT_NE(dev->CreateTexture(0, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
  EXPECT_NE(dev->CreateTexture(4, 4, 1, 0, 77, D3DPOOL_MANAGED, &t), D3D_OK);
  EXPECT_EQ(dev->CallCount(D3DMethod::CreateVertexBuffer), 4u);
  EXPECT_EQ(dev->CallCount(D3DMethod::CreateIndexBuffer), 5u);
}

TEST_F(D3DDeviceTest, LocksStayInsideTheBufferAndRefsCount) {
  D3DBuffer* b = nullptr;
  ASSERT_EQ(dev->CreateVertexBuffer(32, D3DUSAGE_WRITEONLY, 0x42, D3DPOOL_MANAGED, &b), D3D_OK);
  void* p = nullptr;
  EXPECT_NE(b->Lock(16, 17, &p, 0), D3D_OK);
  EXPECT_NE(b->Lock(33, 0, &p, 0), D3D_OK);
  ASSERT_EQ(b->Lock(16, 16, &p, 0), D3D_OK);
  EXPECT_NE(b->Lock(0, 0, &p, 0), D3D_OK);  // already locked
  std::memset(p, 0xAB, 16);
  EXPECT_EQ(b->Unlock(), D3D_OK);
  EXPECT_NE(b->Unlock(), D3D_OK);
  EXPECT_EQ(b->Bytes()[15], 0);
  EXPECT_EQ(b->Bytes()[16], 0xAB);
  // The device holds what is set on it.
  dev->SetStreamSource(0, b, 0, 16);
  EXPECT_EQ(b->Release(), 1u);
  EXPECT_EQ(D3DLiveBufferCount(), buffers + 1);
  dev->SetStreamSource(0, nullptr, 0, 0);
  EXPECT_EQ(D3DLiveBufferCount(), buffers);
}

TEST_F(D3DDeviceTest, FailureHooksCountCreationsAndLocks) {
  D3DStandIn().FailCreationAt = 2;
  D3DBuffer *a = nullptr, *b = nullptr, *c = nullptr;
  EXPECT_EQ(dev->CreateVertexBuffer(8, 0, 0x42, D3DPOOL_MANAGED, &a), D3D_OK);
  EXPECT_NE(dev->CreateIndexBuffer(8, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &b), D3D_OK);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(dev->CreateIndexBuffer(8, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &b), D3D_OK);
  D3DStandIn().FailLockAt = 2;
  void* p;
  int pitch;
  EXPECT_EQ(a->Lock(0, 0, &p, 0), D3D_OK);
  a->Unlock();
  EXPECT_NE(b->Lock(0, 0, &p, 0), D3D_OK);
  D3DTexture* t = nullptr;
  ASSERT_EQ(dev->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
  D3DStandIn().FailLockAt = 1;
  EXPECT_NE(t->LockRect(0, &pitch, &p), D3D_OK);
  EXPECT_EQ(t->LockRect(0, &pitch, &p), D3D_OK);
  EXPECT_EQ(pitch, 8);
  t->UnlockRect(0);
  for (D3DResource* r : {static_cast<D3DResource*>(a), static_cast<D3DResource*>(b),
                         static_cast<D3DResource*>(t)})
    r->Release();
  (void)c;
}

TEST_F(D3DDeviceTest, RecordsCallsAndCountsThem) {
  dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  dev->SetSamplerState(1, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  ASSERT_EQ(dev->Calls().size(), 3u);
  EXPECT_EQ(dev->Calls()[2].Method, D3DMethod::SetSamplerState);
  EXPECT_EQ(dev->Calls()[2].Args[0], 1u);
  EXPECT_EQ(dev->Calls()[2].Args[2], uint32_t(D3DTEXF_LINEAR));
  EXPECT_EQ(dev->CallCount(D3DMethod::SetRenderState), 2u);
  EXPECT_EQ(dev->StateCallCount(), 3u);
  EXPECT_EQ(dev->RenderState(D3DRS_CULLMODE), uint32_t(D3DCULL_NONE));
  D3DStandIn().Recording = false;
  dev->SetFVF(0x42);
  EXPECT_EQ(dev->Calls().size(), 3u);
  EXPECT_EQ(dev->CallCount(D3DMethod::SetFVF), 1u);
  dev->ClearRecord();
  EXPECT_EQ(dev->StateCallCount(), 0u);
  EXPECT_STREQ(D3DMethodName(D3DMethod::DrawIndexedPrimitiveUP), "DrawIndexedPrimitiveUP");
}

TEST_F(D3DDeviceTest, VertexFormatSizes) {
  const std::pair<uint32_t, uint32_t> cases[] = {
      {0x42, 16},  {0x142, 24}, {0x2D2, 48},  {0x000A0200 | 0xD2, 64},
      {0x002A0300 | 0xD2, 80}, {0xAAAA0800 | 0xD2, 160}, {0x40, 0}};
  for (auto [fvf, size] : cases) EXPECT_EQ(D3DFvfVertexSize(fvf), size) << std::hex << fvf;
}

TEST_F(D3DDeviceTest, SnapshotsHoldWhatTheDrawRead) {
  struct V {
    float x, y, z;
    uint32_t c;
  };
  const V verts[4] = {{0, 0, 0, 1}, {1, 0, 0, 2}, {0, 1, 0, 3}, {1, 1, 0, 4}};
  MATRIX world = {{{2, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, 2, 0}, {5, 6, 7, 1}}};
  dev->SetTransform(D3DTS_WORLD, &world);
  D3DLight light{};
  light.Type = 3;
  light.Diffuse = {0.5f, 0.25f, 1, 0};
  dev->SetLight(3, &light);
  dev->LightEnable(3, 1);
  dev->LightEnable(1, 0);
  D3DTexture* t = nullptr;
  ASSERT_EQ(dev->CreateTexture(2, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
  int pitch;
  void* bits;
  t->LockRect(0, &pitch, &bits);
  static_cast<uint32_t*>(bits)[1] = 0xFF00FF00;
  t->UnlockRect(0);
  dev->SetTexture(0, t);
  dev->SetFVF(0x42);
  ASSERT_EQ(dev->DrawPrimitiveUP(D3DPT_LINELIST, 1, verts, sizeof(V)), D3D_OK);
  // A later lock does not reach the snapshot.
  t->LockRect(0, &pitch, &bits);
  static_cast<uint32_t*>(bits)[1] = 0x12345678;
  t->UnlockRect(0);
  ASSERT_EQ(dev->Draws().size(), 1u);
  const D3DDrawSnapshot& s = dev->Draws()[0];
  EXPECT_EQ(s.Vertices.size(), 2 * sizeof(V));
  EXPECT_EQ(std::memcmp(s.Vertices.data(), verts, 2 * sizeof(V)), 0);
  EXPECT_EQ(s.World.m[3][1], 6.0f);
  ASSERT_EQ(s.Lights.size(), 1u);
  EXPECT_EQ(s.Lights[0].first, 3u);
  EXPECT_EQ(s.Lights[0].second.Diffuse.g, 0.25f);
  ASSERT_TRUE(s.Stages[0].Texture);
  EXPECT_EQ(s.Stages[0].Texture->Pixels[1], 0xFF00FF00u);
  EXPECT_EQ(t->Pixels()->Pixels[1], 0x12345678u);
  EXPECT_EQ(s.Fvf, 0x42u);
  EXPECT_EQ(s.VertexShader, -1);

  // Indexed from device buffers: the vertices minIndex.. after the base vertex.
  D3DBuffer *vb = nullptr, *ib = nullptr;
  ASSERT_EQ(dev->CreateVertexBuffer(sizeof verts, 0, 0x42, D3DPOOL_MANAGED, &vb), D3D_OK);
  ASSERT_EQ(dev->CreateIndexBuffer(12, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib), D3D_OK);
  void* p;
  vb->Lock(0, 0, &p, 0);
  std::memcpy(p, verts, sizeof verts);
  vb->Unlock();
  const uint16_t idx[6] = {9, 9, 0, 1, 2, 9};
  ib->Lock(0, 0, &p, 0);
  std::memcpy(p, idx, sizeof idx);
  ib->Unlock();
  dev->SetStreamSource(0, vb, 0, sizeof(V));
  dev->SetIndices(ib);
  EXPECT_NE(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 1, 0, 4, 2, 1), D3D_OK);  // past the end
  ASSERT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 1, 0, 3, 2, 1), D3D_OK);
  const D3DDrawSnapshot& s2 = dev->Draws()[1];
  EXPECT_EQ(s2.Indices, (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_EQ(std::memcmp(s2.Vertices.data(), &verts[1], 3 * sizeof(V)), 0);
  // A draw from memory drops the stream source and the indices.
  const uint32_t idx32[3] = {3, 2, 1};
  ASSERT_EQ(dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 1, 3, 1, idx32, D3DFMT_INDEX32,
                                        verts, sizeof(V)),
            D3D_OK);
  EXPECT_EQ(dev->Draws()[2].FirstVertex, 1u);
  EXPECT_EQ(dev->Draws()[2].Indices, (std::vector<uint32_t>{3, 2, 1}));
  EXPECT_NE(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 3, 0, 1), D3D_OK);
  D3DStandIn().Snapshots = false;
  dev->DrawPrimitiveUP(D3DPT_LINELIST, 1, verts, sizeof(V));
  EXPECT_EQ(dev->Draws().size(), 3u);
  EXPECT_EQ(dev->CallCount(D3DMethod::DrawPrimitiveUP), 2u);
  dev->SetTexture(0, nullptr);
  t->Release();
  vb->Release();
  ib->Release();
}

TEST_F(D3DDeviceTest, ShadersOnlyWhenSwitchedOn) {
  D3DShader* s = nullptr;
  EXPECT_NE(dev->CreateVertexShader(5, &s), D3D_OK);
  D3DStandIn().ShadersAvailable = true;
  D3DStandIn().RefusedPixelShaders = {7};
  EXPECT_EQ(dev->CreateVertexShader(7, &s), D3D_OK);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Index(), 7);
  D3DShader* ps = nullptr;
  EXPECT_NE(dev->CreatePixelShader(7, &ps), D3D_OK);
  EXPECT_EQ(dev->CreatePixelShader(8, &ps), D3D_OK);
  EXPECT_NE(dev->SetPixelShader(s), D3D_OK);  // a vertex shader is no pixel shader
  dev->SetVertexShader(s);
  float c[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  dev->SetVertexShaderConstantF(94, c, 2);
  EXPECT_NE(dev->SetVertexShaderConstantF(255, c, 2), D3D_OK);
  const float v[3][3] = {};
  dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, 12);
  EXPECT_EQ(dev->Draws()[0].VertexShader, 7);
  ASSERT_EQ(dev->Draws()[0].VertexConstants.size(), 96u * 4);
  EXPECT_EQ(dev->Draws()[0].VertexConstants[95 * 4 + 3], 8.0f);
  s->Release();
  ps->Release();
}

}  // namespace
