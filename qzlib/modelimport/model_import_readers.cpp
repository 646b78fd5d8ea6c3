#include <qzlib/modelimport/model_import_readers.h>

#include <qzlib/model/model_readers.h>

int RegisterModelImportReaders() {
  MV1SetModelReader(MV1_READER_MQO, LoadMqoModel);
  MV1SetModelReader(MV1_READER_X, LoadXFileModel);
  MV1SetModelReader(MV1_READER_PMD, LoadPmdModel);
  return 0;
}
