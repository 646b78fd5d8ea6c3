// Feeds arbitrary bytes to the X file parser under a synthetic top frame. Whatever happens, the
// tree must be consistent (every child's parent is its owner, every resolved reference an object of
// the tree) and freeing it must leave no tracked block behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/modelimport/x/xfile_parser.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t blocksBefore = MemLiveBlockCount();
  LogCaptureBegin();
  XFileObjectList list{};
  if (!XFileAddObject(&list, XOBJ_FRAME, "XTopFrame", nullptr)) std::abort();
  int rc = ParseXFile(data, size, &list);
  LogCaptureEnd();
  if (rc != 0 && rc != -1) std::abort();
  uint32_t n = 0;
  for (const XFileObject* o = list.first; o; o = o->next, ++n) {
    for (const XFileObject* c = o->firstChild; c; c = c->nextSibling)
      if (c->parent != o) std::abort();
    for (uint32_t i = 0; i < o->refCount; ++i)
      if (o->refs[i] && (o->refs[i]->type < 0 || o->refs[i]->type >= XOBJ_TYPE_SLOTS)) std::abort();
    if (o->type == XOBJ_MESH && rc == 0) {
      const XFaceList& f = o->data.mesh.faces;
      for (uint32_t i = 0; i < f.count; ++i)
        if (XFaceVertexCount(f, i) > kXMaxFaceVertices) std::abort();
    }
  }
  if (n != list.objectCount) std::abort();
  FreeXFileObjectList(&list);
  if (MemLiveBlockCount() != blocksBefore) std::abort();
  return 0;
}
