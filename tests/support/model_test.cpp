#include "tests/support/model_test.h"

#include "engine/graphics/draw_state.h"
#include "engine/model/model_handles.h"

void ModelTest::SetUp() {
  LeakCheckedTest::SetUp();
  UseDirect3DFlag = 1;
  InitModelSystem();
}

void ModelTest::TearDown() {
  MV1TerminateModelSystem();
  UseDirect3DFlag = 0;
  LeakCheckedTest::TearDown();
}
