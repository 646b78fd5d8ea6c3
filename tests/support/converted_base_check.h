// Invariants of a model base built by ConvertReadModelToModelBase, checked in every converter test.
#pragma once
#include <string>

#include <qzlib/model/model_base.h>
#include <qzlib/modelimport/readmodel.h>

// Counts every broken invariant (and describes the first ones in *report when given): counts and index ranges; triangle lists in type
// order with at most 54 bones and 65535 indices (65532 for four- and eight-bone lists); every
// vertex's bones within its list's bones; finite unit normals where the converter made them
// (normalsMade); skin bones ordered by frame, bone-use entries consistent, each frame's skin-bone
// range exact; each frame's change masks exactly its subtree's bits; fill counters within their
// areas; no word of the base's blocks pointing into the read model's pool. Needs no test framework
// (the fuzz target uses it too).
int CheckConvertedBase(const MV1ModelBase* base, const ReadModel* rm, bool normalsMade,
                       std::string* report = nullptr);
// In tests: the check as one expectation that prints the report.
#define EXPECT_VALID_BASE(base, rm, normalsMade)                              \
  do {                                                                        \
    std::string report_;                                                      \
    EXPECT_EQ(CheckConvertedBase((base), (rm), (normalsMade), &report_), 0) << report_; \
  } while (0)

// The base of a handle (null when the handle names none).
const MV1ModelBase* ConvertedBase(int handle);
// Number of model bases in the table.
int ModelBaseCount();
