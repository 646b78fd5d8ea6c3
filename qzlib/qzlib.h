// The engine's user API in one header: #include <qzlib/qzlib.h> and link qzlib::engine.
//
// It reaches, lowest layer first: tracked memory and its figures, the log and its capture, the
// fatal-error hook, the file layer, images and their saving, the maths, the draw state, graphs,
// 2-D shapes and the software drawing entry points with MEMIMG and the polygon drawer, the
// camera, lights and 3-D shapes, the recording stand-in device with its settings and recorded
// draws, models with their bases, loading, animation, collision and drawing, and engine start and
// end. Each header it includes states its own functions' contracts; the folders are the layers
// (README, "Layout").
#pragma once

// core: base, file, platform
#include <qzlib/base/types.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/log.h>
#include <qzlib/base/fatal_error.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/file/file.h>
#include <qzlib/platform/wintypes.h>
#include <qzlib/platform/d3d_device.h>

// image
#include <qzlib/image/baseimage.h>

// math
#include <qzlib/math/math3d.h>
#include <qzlib/math/matrix3x4.h>
#include <qzlib/math/geometry.h>

// graphics: the graphics core, 3-D shapes, camera and lights, and the software renderer
#include <qzlib/graphics/graphics.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/graphics/draw_shapes.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/graphics/camera.h>
#include <qzlib/graphics/light.h>
#include <qzlib/graphics/draw3d.h>
#include <qzlib/soft/memimg.h>
#include <qzlib/soft/entry_points.h>
#include <qzlib/soft/plain_blit.h>
#include <qzlib/soft/stretch_blit.h>
#include <qzlib/soft/rota_blit.h>
#include <qzlib/soft/flat_draw.h>
#include <qzlib/soft/polygon.h>
#include <qzlib/soft/shapes.h>

// model: bases, models, loading, matrices, draw state, animation, access, drawing, collision
#include <qzlib/model/model_base.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_load.h>
#include <qzlib/model/model_matrix.h>
#include <qzlib/model/model_draw_state.h>
#include <qzlib/model/model_anim.h>
#include <qzlib/model/model_access.h>
#include <qzlib/model/model_draw.h>
#include <qzlib/model/model_refmesh.h>
#include <qzlib/model/model_collision.h>

// engine start and end
#include <qzlib/system/library.h>
