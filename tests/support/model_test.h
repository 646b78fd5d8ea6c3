// Test fixture of the model runtime tests.
#pragma once
#include "tests/support/model_builder.h"
#include "tests/support/test_support.h"

// The model system started around each test (as Direct3D mode starts it), tracked memory checked
// after it has ended.
class ModelTest : public LeakCheckedTest {
 protected:
  void SetUp() override;
  void TearDown() override;
};
