// Hands the import readers (MQO, X, PMD) to the model loader's reader table.
#pragma once

// Fills the MQO, X and PMD slots of the reader table (qzlib/model/model_readers.h). 0.
int RegisterModelImportReaders();
