// The share of the graphics core that 3-D drawing and the model system read: the Direct3D objects
// and the cached transforms.
//
// Filled by graphics start in Direct3D mode and by the transform setters; read by camera, lights,
// 3-D shapes and the model system.
#pragma once
#include "engine/base/types.h"

class D3DDevice;

// The Direct3D objects of the graphics core. Device is non-null while a Direct3D device exists
// (between graphics start in Direct3D mode and graphics end); model buffers are built and meshes
// drawn only then.
struct D3DObjectGlobals {
  D3DDevice* Device;
};
extern D3DObjectGlobals D3DObjects;

// The transforms as last stored by the transform setters, with the product View x Projection
// that view culling reads.
struct ViewMatrixCache {
  MATRIX World;
  MATRIX View;
  MATRIX Projection;
  MATRIX Viewport;
  MATRIX ViewProjection;
};
extern ViewMatrixCache ViewMatrices;
