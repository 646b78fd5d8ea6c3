// Reference model of the automatic normals: the literal fan walk, which scans the whole list of
// faces around a position at every step (quadratic in the faces that share a position). Its
// results are the ones MakeReadModelNormals must give bit for bit.
#pragma once
#include <qzlib/modelimport/readmodel.h>

// Same contract and results as MakeReadModelNormals (the face normals, the mesh's normals and
// every face's normal indices); 1, or 0 when memory runs out (nothing logged).
int RefMakeReadModelNormals(ReadModel* rm, ReadModelMesh* mesh);
