// The engine's one camera: eye, view direction, projection and projection centre.
//
// The camera keeps its own copy of every setting and hands the resulting view, projection and
// viewport matrices to the graphics core (qzlib/graphics/graphics3d.h), which owns the device
// transforms. Every setter returns 0 and takes effect at once.
#pragma once
#include <qzlib/base/types.h>

struct CameraSettings {
  int ProjectionMode;    // 0 perspective, 1 orthographic, 2 caller's matrix
  float Near, Far;
  float DotAspect;       // multiplied into the aspect ratio
  float Fov;             // full vertical angle, radians (mode 0)
  float OrthoSize;       // visible height (mode 1)
  MATRIX Projection;     // the caller's matrix in mode 2, else the last one built
  VECTOR Position, Target, Up;
  float VerticalAngle, HorizontalAngle, TwistAngle;
  MATRIX View;           // the last view matrix the camera set
};
extern CameraSettings Camera;

// The draw-settings reset of the camera: mode 0, near 10, far 10000, fov 1.0471976, ortho size 1,
// dot aspect 1, identity projection. Position, target, up, angles and view are not touched.
void ResetCameraSettings();

// Look-at camera with the world up (0, 1, 0) / with a caller's up. The stored up is the
// normalised component of up perpendicular to the view direction; the angles are derived.
int SetCameraPositionAndTargetUpVecY(VECTOR position, VECTOR target);
int SetCameraPositionAndTargetAndUpVec(VECTOR position, VECTOR target, VECTOR up);
// Camera from angles: a positive vertical angle looks down, a positive horizontal angle turns
// from +z towards +x, the twist turns up away from right. Angles stored as passed.
int SetCameraPositionAndAngle(VECTOR position, float vertical, float horizontal, float twist);
// Stores the matrix as the view and hands it on; position, target, up and angles unchanged.
int SetCameraViewMatrix(MATRIX view);
// Moves the projection centre to screen pixel (x, y) (viewport of the draw area's size).
int SetCameraDotScreenCenter(float x, float y);
int SetCameraNearFar(float zNear, float zFar);
int SetupCameraPerspective(float fov);
int SetupCameraOrtho(float size);
int SetupCameraProjectionMatrix(MATRIX projection);
int SetupCameraProjectionMatrixByPtr(const MATRIX* projection);
int SetCameraDotAspect(float factor);
// Derives the three angles from the current view matrix.
int RefreshCameraAngles();
