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

// A generated terrain's reference-mesh wireframe, vertical line probes coloured by hit height,
// the polygons hit by a sphere and a capsule, and a skinned arm's transformed reference mesh
// beside its local one, drawn with the software line and triangle drawers.
void RunCollisionDemo();

// A small scene written with the test MV1 writer, loaded by the MV1 reader, its counts printed and
// its rigid triangle lists drawn at their frames' world matrices into a picture.
void RunMv1Demo();

// Models drawn with MV1DrawModel on the fixed-function path over the stand-in device and
// replayed: a textured lit box, the same at opacity 0.5 over a checkerboard, a toon box with its
// outline, boxes in each blend mode, a skinned arm posed by an animation and a frame culled.
void RunModelDrawDemo();

// X and PMD files of the test data loaded with MV1LoadModel and drawn with MV1DrawModel,
// replayed: the tiger, the lobby skybox, tiny_4anim.x's "Walk" as a sheet, the skinned test cube,
// Gene.pmd posed by Gene000.vmd with close-ups of its legs and IK goals, menu.pmd turning.
void RunImportDemo();

// MQO documents loaded with MV1LoadModel and drawn with MV1DrawModel, replayed: every test
// document that loads, one half-shape with mirror axes 1, 3 and 7, a frustum at facet 30 and 90.
void RunMqoDemo();
