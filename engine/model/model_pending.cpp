// Stand-ins for the calls of model_pending.h until their subsystems land.
#include "engine/model/model_pending.h"

#include "engine/model/model.h"

int MV1DetachAnim(int, int) { return 0; }
void MV1RefreshAttachList(MV1Model* model) { model->AnimSetupFlag = 1; }
int MV1TerminateReferenceMesh(int, int, int) { return 0; }
int MV1TerminateCollInfo(int, int) { return 0; }
