// Demonstration parts, each drawing and saving its own pictures; main() runs them.
#pragma once

// Circles, ovals and outline shapes in every shape blend mode, 32-bit and 16-bit.
void RunShapesDemo();

// The stretched and rotated blits, points, filled boxes and lines in every blend mode, 32-bit and
// 16-bit.
void RunDrawersDemo();

// Flat and textured quadrangles in every blend mode, 32-bit and 16-bit.
void RunPolygonDemo();

// The plain blit in every blend mode with key, tint, alpha and blend graph, 32-bit and 16-bit.
void RunPlainBlitDemo();

// Spheres, capsules, cones, lines and triangles drawn in Direct3D mode over the stand-in device
// under the draw-screen view, a look-at view from above and a moved screen centre; the recorded
// draws are replayed into pictures.
void RunDirect3DDemo();

// A model base built in code and two posed models: every frame's bounding box drawn as 3-D lines
// in Direct3D mode, coloured by the view test and tinted by the frame's derived diffuse scale;
// the recorded draws are replayed into pictures.
void RunModelDemo();

// A model file loaded by path through MV1LoadModel from a folder whose name holds a 0x5C trail
// byte, with its textures beside it (one missing), drawn from its device buffers before and after
// a simulated device loss; the fall-back texture, a normal map and a colour texture with its
// stretched alpha saved as pictures.
void RunModelLoadDemo();

// A 12-frame arm with four anims drawn as a skeleton with the software line drawer at eight times
// per row: each of two anims alone, both blended, an additive anim and a wide rotation step.
void RunAnimDemo();

// Generated read models converted into model bases, drawn as wireframes with their normals.
void RunReadModelDemo();

// MQO documents read by the MQO reader, drawn as wireframes with their made normals: every test
// document that loads, one half-shape with mirror axes 1, 3 and 7, a prism at facet 30 and 90.
void RunMqoDemo();
