// Device vertex and index buffers of model bases, the dynamic vertex buffers of models whose
// meshes have shapes, and their life cycle across device loss.
//
// A base's triangle lists of vertex types 0 to 2 are grouped by cell (type, normal map, UV-set
// count) into chains of buffer records; a record takes lists until its index count reaches
// 786432 or its vertex count 393216. Indices are copied unchanged: a list is drawn with its first
// vertex as the base vertex. A list without a record (type 3, a cell that is not built, a failed
// build) is drawn from memory. In software mode every operation here returns 0 at once.
#pragma once
#include <cstdint>

#include <qzlib/platform/d3d_device.h>

struct MV1Model;

// One buffer pair of a cell's chain.
struct MV1VertexBuffer {
  D3DVertexBuffer* VertexBuffer;   // null when its build failed or never ran
  D3DIndexBuffer* IndexBuffer;
  int VertexCount;
  int IndexCount;
  MV1VertexBuffer* Next;
};

constexpr int MV1_VERTEX_BUFFER_MAX_INDICES = 0xC0000;
constexpr int MV1_VERTEX_BUFFER_MAX_VERTICES = 0x60000;

// The device layout of a cell: its vertex format (0 for the cells only shaders read) and stride.
// Returns 1 when the cell is built (type 0 without normal map up to 6 UV sets always, the others
// only while shaders are in use), else 0.
int MV1VertexBufferCellLayout(int type, int normalMap, int uvSets, uint32_t* fvf, int* stride);

// Builds the base's buffers once (again only after they were terminated). 0, -1 on a bad handle.
int MV1SetupModelBaseVertexBuffer(int baseHandle);
// Every base's. 0.
int MV1SetupAllModelBaseVertexBuffers();
// Releases the base's buffers and every device object of its models. 0, -1 on a bad handle.
int MV1TerminateModelBaseVertexBuffer(int baseHandle);
// Every base's buffers, then every model's device objects. 0.
int MV1TerminateAllVertexBuffers();
// Releases the dynamic vertex buffers of the model's triangle lists. 0, -1 on a bad handle.
int MV1ReleaseModelDeviceObjects(int modelHandle);
// Applies the model's shape weights to the shaped vertices of its meshes with shapes and, with a
// device, creates the missing dynamic buffers of their lists whose cell is built and refills
// every one of them. 0, -1 on a bad handle.
int MV1SetupModelVertexBuffer(int modelHandle);
