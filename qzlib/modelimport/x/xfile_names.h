// Name lookups over an X object tree: a hash table from the tree's pool, so that resolving the
// references of a file grows linearly with it.
#pragma once
#include <cstdint>

#include <qzlib/modelimport/x/xfile_parser.h>

struct XNameTable {
  uint32_t mask;          // slot count - 1 (a power of two)
  XFileObject** slots;
};

// Enters every named object from `from` to the end of the creation-order list (only objects of
// `type` when type >= 0), keeping the first of each name (case-sensitive). 0, or -1 (logged).
int XNameTableBuild(XFileObjectList* list, XNameTable* table, XFileObject* from, int type);
// The first object entered with this name, or null.
XFileObject* XNameTableFind(const XNameTable* table, const char* name);

// Index of name in the list's table of distinct texture file names (case-sensitive), entering it
// when new; -1 when memory runs out.
int XNameIndexAdd(XFileObjectList* list, const char* name);
