#include "tests/support/model_test.h"

#include <qzlib/base/draw_state.h>
#include <qzlib/model/model_handles.h>

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
