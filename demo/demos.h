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

// Generated read models converted into model bases, drawn as wireframes with their normals.
void RunReadModelDemo();
